# Light interaction without specular; units and env as "interaction.vfp" (env 1 unused).
!!ARBfp1.0
TEMP light, bump, diffuse, falloff, projection, color, shade;

TXP projection, fragment.texcoord[1], texture[1], 2D;
TEX falloff, fragment.texcoord[2], texture[0], 2D;
TEX bump, fragment.texcoord[3], texture[2], 2D;
TEX diffuse, fragment.texcoord[4], texture[3], 2D;

MAD bump.xyz, bump, 2.0, -1.0;
MUL bump.xy, bump, program.env[2];
DP3 bump.w, bump, bump;
RSQ bump.w, bump.w;
MUL bump.xyz, bump, bump.w;

DP3 light.w, fragment.texcoord[0], fragment.texcoord[0];
RSQ light.w, light.w;
MUL light.xyz, fragment.texcoord[0], light.w;
DP3_SAT shade.x, bump, light;

MUL color, diffuse, program.env[0];
MUL color, color, shade.x;
MUL color, color, projection;
MUL color, color, falloff;
MUL result.color, color, fragment.color;
END
