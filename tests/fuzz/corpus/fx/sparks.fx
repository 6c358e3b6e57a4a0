table fx/fade { clamp 1, 0 }
effect fx/sparks
{
	size 32
	sound crackle
	{
		soundShader fx/crackle
		volume 0.5, 1
		soundChannel CHANNEL_BODY
	}
	emitter sparks
	{
		duration 1, 1
		count 40, 60
		line
		{
			material fx/spark
			duration 0.4, 0.8
			shape cone
			start { position -2,-2,0, 2,2,4 velocity -60,-60,80, 60,60,200 size 0.5,4, 1,8 tint 1,0.7,0.2, 1,0.9,0.5 }
			end { fade 0, 0 }
			gravity 300, 400
			motion { fade { fx/fade } }
			impact { bounce 0.4 remove 0 effect fx/puff }
		}
	}
}
