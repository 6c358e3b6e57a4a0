table fx/grow { 0, 0.5, 1 }
effect fx/smoke
{
	emitter trail
	{
		count 20, 20
		locked
		sprite
		{
			duration 1, 2
			trailType motion
			trailCount 3, 6
			trailTime 0.05, 0.1
			shape sphere
			start { position -4,-4,-4, 4,4,4 velocity 0,0,20, 0,0,30 friction 0.5,0.5,0.5, 1,1,1 size 2,2, 3,3 orbit 0,0,0, 0,0.5,0 offset 1,0,0, 2,0,0 }
			end { size 8,8, 10,10 fade 0, 0 rotate 0,0,1, 0,0,2 }
			motion { size { fx/grow repeat } rotate { fx/grow } { fx/grow scale 2 } orbit { fx/grow offset 0.5 } }
			rotateRelative
			orbitRelative
		}
	}
	emitter strip
	{
		count 10, 10
		linked
		{
			generatedNormal center
			start { position useEndOrigin width 1, 1 }
			useSurface
			flipNormal
		}
	}
}
