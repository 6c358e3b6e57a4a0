// Effects of the sample game: sparks with a crackle, a smoke trail behind a moving origin, a
// flickering light with embers, and (further down) a decal, bouncing sparks with impacts, a spark
// with a strip, trails and lines, tumbling models and the view effects of a trigger. Materials in
// materials/effects.mtx, the sound in sound/effects.sndshd.

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

// ---- Effects the sample game places with its own knowledge of the map (demo/gamefx.cpp).

// A scorch mark sprayed on the wall ahead of the player start (the game finds the wall with a
// collision trace and turns the effect to face out of it); a new one every six seconds.
effect effects/spray
{
	size 64
	decal scorch
	{
		duration 6, 6
		decal
		{
			material textures/effects/scorch
			duration 6, 6
			start
			{
				size 36,36, 44,44
				rotate 0,0,0, 0,0,1
			}
		}
	}
}

// Sparks that fall to the floor and bounce off it: the game traces each move through the map's
// collision model, and a hit throws up a puff of dust.
effect effects/bounce
{
	size 160
	emitter hail
	{
		duration 10, 10
		count 24, 24
		sprite
		{
			material textures/effects/spark
			duration 2.5, 3
			start
			{
				position -4,-4,0, 4,4,4
				velocity -30,-30,30, 30,30,80
				size 1.5,1.5, 2.2,2.2
				tint 0.6,0.9,1, 0.8,1,1
			}
			end
			{
				fade 0, 0
			}
			gravity 300, 300
			impact
			{
				bounce 0.6
				effect effects/puff
			}
			motion
			{
				fade { effects/fadeOut }
			}
		}
	}
}

// The dust of one impact.
effect effects/puff
{
	size 24
	emitter dust
	{
		duration 0.5, 0.5
		count 4, 4
		spawnAtOnce
		sprite
		{
			material textures/effects/smoke
			duration 0.3, 0.5
			start
			{
				velocity -10,-10,5, 10,10,15
				size 1,1, 2,2
				tint 0.8,0.8,0.75, 0.9,0.9,0.85
				fade 0.5, 0.6
			}
			end
			{
				size 4,4, 5,5
				fade 0, 0
			}
		}
	}
}

// A spark circling the scene: its head, a linked strip of the particles it drops, embers with
// motion trails, and short streaks drawn as lines.
effect effects/comet
{
	size 96
	emitter head
	{
		duration 10, 10
		count 60, 60
		sprite
		{
			material textures/effects/spark
			duration 0.06, 0.06
			start
			{
				size 5,5, 6,6
				tint 1,0.95,0.7, 1,1,0.8
			}
		}
	}
	emitter strip
	{
		duration 10, 10
		count 40, 40
		linked
		{
			material textures/effects/spark
			duration 0.9, 0.9
			start
			{
				size 2.5,2.5, 2.5,2.5
				tint 1,0.6,0.2, 1,0.7,0.3
			}
			end
			{
				size 0.5,0.5, 0.5,0.5
				tint 0.8,0.2,0.05, 0.8,0.2,0.05
			}
			motion
			{
				fade { effects/fadeOut }
				size { effects/grow }
			}
		}
	}
	emitter embers
	{
		duration 10, 10
		count 14, 14
		sprite
		{
			material textures/effects/spark
			duration 0.6, 1
			trailType motion
			trailTime 0.02, 0.04
			trailCount 6, 8
			start
			{
				velocity -30,-30,-10, 30,30,40
				size 0.8,0.8, 1.1,1.1
				tint 1,0.5,0.1, 1,0.7,0.2
			}
			end
			{
				fade 0, 0
			}
			gravity 80, 120
		}
	}
	emitter streaks
	{
		duration 10, 10
		count 8, 8
		line
		{
			material textures/effects/spark
			duration 0.2, 0.4
			start
			{
				size 0.4,10, 0.7,18
				rotate 0,0,0, 0,0,1
				tint 1,0.8,0.4, 1,0.9,0.6
			}
			end
			{
				fade 0, 0
			}
		}
	}
}

// Crate-skinned slats thrown up and tumbling down: a model emitter (it scales a model's length and
// width, never its height).
effect effects/crates
{
	size 128
	emitter tumble
	{
		duration 10, 10
		count 2, 2
		model
		{
			model models/crate.mesh
			duration 1.6, 1.6
			start
			{
				position -2,-2,0, 2,2,0
				velocity -12,-12,70, 12,12,90
				size 0.3,0.3, 0.35,0.35
				rotate 0,0,0, 1,1,1
			}
			end
			{
				rotate 1,1,0, 2,2,1
			}
			gravity 100, 100
		}
	}
}

// What the trigger ahead of the player start does to the view. The sample game reads a view
// effect's intensity up to 1 as a shake of that strength and one above 1 as tunnel vision closing
// in by the part above 1 (shake and tunnel reach the game alike otherwise).
effect effects/jolt
{
	size 64
	shake quake
	{
		duration 0.8, 0.8
		scale 1
	}
	tunnel narrow
	{
		duration 2.5, 2.5
		scale 1.9
	}
	// A view effect acts on its first update only: one that starts late would never act.
	doubleVision blur
	{
		duration 2.5, 2.5
		scale 1
	}
}
