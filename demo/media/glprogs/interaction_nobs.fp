# Light interaction with neither bump nor specular: diffuse under the light's projection and falloff.
!!ARBfp1.0
TEMP light, diffuse, falloff, projection, color, shade;

TXP projection, fragment.texcoord[1], texture[1], 2D;
TEX falloff, fragment.texcoord[2], texture[0], 2D;
TEX diffuse, fragment.texcoord[4], texture[3], 2D;

DP3 light.w, fragment.texcoord[0], fragment.texcoord[0];
RSQ light.w, light.w;
MUL light.xyz, fragment.texcoord[0], light.w;
MAX shade.x, light.z, 0.0;

MUL color, diffuse, program.env[0];
MUL color, color, shade.x;
MUL color, color, projection;
MUL color, color, falloff;
MUL result.color, color, fragment.color;
END
