effect fx/flicker
{
	light glow
	{
		duration 0.1, 0.3
		noStopWait
		light
		{
			start { tint 1,0.5,0.2, 1,0.8,0.4 size 120, 120, 200, 200 }
		}
	}
	decal mark
	{
		start 0.2, 0.2
		decal { duration 1, 2 start { size 8, 8, 16, 16 rotate 0,0,0, 0,0,1 } persist }
	}
	shake rumble { duration 0.5, 0.5 scale 2 attenuation 100, 300 }
	tunnel blur { attenuation 50, 50 }
	doubleVision dv { scale 0.5 constant }
	emitter chunks { count 3, 3 spawnAtOnce model { model fx/chunk generatedOriginNormal shape cylinder start { position -8,-8,0, 8,8,0 } } }
	emitter bolt { oriented { start { length useEndOrigin } tiling 8 } }
}
