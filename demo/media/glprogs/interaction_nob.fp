# Light interaction with a flat surface normal (no bump map); units and env as "interaction.vfp".
!!ARBfp1.0
PARAM exponent = { 16.0, 0.0, 0.0, 0.0 };
PARAM flat = { 0.0, 0.0, 1.0, 0.0 };
TEMP light, halfAngle, diffuse, specular, falloff, projection, color, shade;

TXP projection, fragment.texcoord[1], texture[1], 2D;
TEX falloff, fragment.texcoord[2], texture[0], 2D;
TEX diffuse, fragment.texcoord[4], texture[3], 2D;
TEX specular, fragment.texcoord[5], texture[4], 2D;

DP3 light.w, fragment.texcoord[0], fragment.texcoord[0];
RSQ light.w, light.w;
MUL light.xyz, fragment.texcoord[0], light.w;
DP3 halfAngle.w, fragment.texcoord[6], fragment.texcoord[6];
RSQ halfAngle.w, halfAngle.w;
MUL halfAngle.xyz, fragment.texcoord[6], halfAngle.w;

DP3_SAT shade.x, flat, light;
DP3_SAT shade.y, flat, halfAngle;
POW shade.y, shade.y, exponent.x;

MUL diffuse, diffuse, program.env[0];
MUL specular, specular, program.env[1];
MUL specular, specular, shade.y;
ADD color, diffuse, specular;
MUL color, color, shade.x;
MUL color, color, projection;
MUL color, color, falloff;
MUL result.color, color, fragment.color;
END
