// Effects of the sample game: sparks with a crackle, a smoke trail behind a moving origin and a
// flickering light with embers. Materials in materials/effects.mtx, the sound in sound/effects.sndshd.

// Particle fades: nothing taken off at birth, everything at death.
table effects/fadeOut { clamp 0, 0.1, 0.4, 1 }
// Smoke grows fast, then slowly.
table effects/grow { clamp 0, 0.6, 0.85, 1 }

effect effects/sparks
{
	size 64
	sound crackle
	{
		soundShader effects/crackle
		volume 0.6, 1
		soundChannel CHANNEL_BODY
	}
	emitter sparks
	{
		duration 0.6, 0.6
		count 70, 90
		sprite
		{
			material textures/effects/spark
			duration 0.4, 0.9
			shape cone
			start
			{
				position -1,-1,0, 1,1,2
				velocity -40,-40,60, 40,40,140
				size 1,1, 1.6,1.6
				tint 1,0.8,0.4, 1,1,0.7
			}
			end
			{
				tint 1,0.3,0.05, 1,0.5,0.1
				fade 0, 0
			}
			gravity 200, 260
			motion
			{
				fade { effects/fadeOut }
			}
		}
	}
}

effect effects/smoketrail
{
	size 96
	emitter puffs
	{
		duration 10, 10
		count 30, 30
		sprite
		{
			material textures/effects/smoke
			duration 1.5, 2.5
			shape sphere
			start
			{
				position -2,-2,-2, 2,2,2
				velocity -3,-3,8, 3,3,16
				friction 0.3,0.3,0.3, 0.5,0.5,0.5
				size 3,3, 4,4
				tint 0.6,0.6,0.6, 0.7,0.7,0.7
				fade 0.7, 0.8
				rotate 0,0,0, 0,0,1
			}
			end
			{
				size 12,12, 16,16
				tint 0.3,0.3,0.3, 0.35,0.35,0.35
				fade 0, 0
				rotate 0,0,0.2, 0,0,0.4
			}
			rotateRelative
			motion
			{
				size { effects/grow }
				fade { effects/fadeOut }
				rotate { effects/grow }
			}
		}
	}
}

effect effects/flicker
{
	size 240
	// A short light that restarts with a new colour every few hundredths of a second.
	light glow
	{
		duration 0.04, 0.12
		light
		{
			start
			{
				tint 1,0.4,0.1, 1,0.75,0.3
				size 200,200, 260,260
			}
		}
	}
	emitter embers
	{
		duration 10, 10
		count 15, 15
		sprite
		{
			material textures/effects/spark
			duration 0.5, 1.2
			start
			{
				position -6,-6,0, 6,6,2
				velocity -4,-4,10, 4,4,30
				size 0.8,0.8, 1.4,1.4
				tint 1,0.5,0.1, 1,0.7,0.2
			}
			end
			{
				fade 0, 0
			}
			motion
			{
				fade { effects/fadeOut }
			}
		}
	}
}
