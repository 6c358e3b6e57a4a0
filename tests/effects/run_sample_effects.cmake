# The sample effects that need the game, each through the staged engine on the sample map, headless:
# a shot with only that effect ("g_demoEffectsOnly") against one with no effects ("g_demoEffects 0"),
# with the camera still at the player start.
#  - the scorch decal darkens the far wall right of the door;
#  - the bouncing sparks hit the floor (the game's trace through the collision model reports the hit)
#    and light pixels in the lower half of the picture;
#  - the circling spark (strip, trails, streaks) and the tumbling models light pixels of their own,
#    and the tumbling crates are lit by the room's light.
# The trigger the player walks into is tested in the engine itself on a made-up frame clock
# (engine/sampletrigger_gl_test.cpp): here the walk's length in game time would follow the frame
# rate, and on a loaded machine the player reached the trigger too late for the picture, or not at all.
include(${CMAKE_CURRENT_LIST_DIR}/../support/enginescreenshot.cmake)
function(shoot name effects only)
  quill_engine_screenshot(${DIR}/fx_${name}.tga out con_devconsole 1 | g_demoEffects ${effects}
                          | g_demoEffectsOnly ${only} | map demo | wait 4800 | screenshot32 | quit)
  set(${name}_out "${out}" PARENT_SCOPE)
endfunction()

# Sums of red, green and blue at every fourth pixel of every eighth row of the box [x0, x1) x [y0, y1)
# (fractions of the picture); the counts of pixels that are darker or brighter by more than 45 in
# `a` than in `b`, and the two totals.
function(compare a b x0 x1 y0 y1)
  quill_tga_size(${DIR}/fx_${a}.tga width height)
  math(EXPR rowBytes "${width} * 4")
  math(EXPR px0 "${width} * ${x0} / 100")
  math(EXPR px1 "${width} * ${x1} / 100 - 1")
  math(EXPR py0 "${height} * ${y0} / 100")
  math(EXPR py1 "${height} * ${y1} / 100 - 1")
  set(darker 0)
  set(brighter 0)
  set(totalA 0)
  set(totalB 0)
  foreach(y RANGE ${py0} ${py1} 8)
    # Screenshots are stored top row first.
    math(EXPR offset "18 + ${y} * ${rowBytes}")
    file(READ ${DIR}/fx_${a}.tga ra HEX OFFSET ${offset} LIMIT ${rowBytes})
    file(READ ${DIR}/fx_${b}.tga rb HEX OFFSET ${offset} LIMIT ${rowBytes})
    foreach(x RANGE ${px0} ${px1} 4)
      math(EXPR at "${x} * 8")
      string(SUBSTRING ${ra} ${at} 6 pa)
      string(SUBSTRING ${rb} ${at} 6 pb)
      string(SUBSTRING ${pa} 0 2 c0)
      string(SUBSTRING ${pa} 2 2 c1)
      string(SUBSTRING ${pa} 4 2 c2)
      math(EXPR sa "0x${c0} + 0x${c1} + 0x${c2}")
      string(SUBSTRING ${pb} 0 2 c0)
      string(SUBSTRING ${pb} 2 2 c1)
      string(SUBSTRING ${pb} 4 2 c2)
      math(EXPR sb "0x${c0} + 0x${c1} + 0x${c2}")
      math(EXPR totalA "${totalA} + ${sa}")
      math(EXPR totalB "${totalB} + ${sb}")
      math(EXPR d "${sa} - ${sb}")
      if(d LESS -45)
        math(EXPR darker "${darker} + 1")
      elseif(d GREATER 45)
        math(EXPR brighter "${brighter} + 1")
      endif()
    endforeach()
  endforeach()
  set(darker ${darker} PARENT_SCOPE)
  set(brighter ${brighter} PARENT_SCOPE)
  set(totalA ${totalA} PARENT_SCOPE)
  set(totalB ${totalB} PARENT_SCOPE)
endfunction()

shoot(none 0 "\"\"")

# The scorch mark: on the wall right of the door, at about 60 % across and 45 % down.
shoot(spray 1 effects/spray)
if(NOT spray_out MATCHES "sample game: scorch marks go on the wall at 25[0-9]\\.[0-9] ")
  message(FATAL_ERROR "the game found no wall for the scorch mark\n${spray_out}")
endif()
compare(spray none 55 80 30 60)
message("scorch mark: ${darker} pixels darker, ${brighter} brighter")
if(darker LESS 10 OR NOT darker GREATER brighter)
  message(FATAL_ERROR "no scorch mark on the wall")
endif()

# The bouncing sparks: the first hit is on the floor (z = 0, facing up).
shoot(bounce 1 effects/bounce)
if(NOT bounce_out MATCHES "sample game: a particle bounced at [-0-9.]+ [-0-9.]+ 0\\.[0-9] off a surface facing 0\\.00 0\\.00 1\\.00")
  message(FATAL_ERROR "no particle was traced onto the floor\n${bounce_out}")
endif()
compare(bounce none 0 100 50 100)
message("bouncing sparks: ${brighter} pixels brighter in the lower half")
if(brighter LESS 5)
  message(FATAL_ERROR "the bouncing sparks left no mark")
endif()

foreach(effect comet crates)
  shoot(${effect} 1 effects/${effect})
  compare(${effect} none 0 100 20 80)
  math(EXPR changed "${darker} + ${brighter}")
  message("${effect}: ${changed} pixels changed")
  if(changed LESS 10)
    message(FATAL_ERROR "effects/${effect} left no mark")
  endif()
  # The crate slats are lit by the room's light: faces turned to it are brighter than the wall
  # behind them, about as many as the unlit faces are darker (unlit, they were a black blob that
  # darkened the picture some fifteen times more than it brightened it).
  if(effect STREQUAL "crates")
    message("crates: ${brighter} pixels brighter, ${darker} darker")
    math(EXPR quarter "${darker} / 4")
    if(brighter LESS 50 OR brighter LESS quarter)
      message(FATAL_ERROR "the tumbling crates are not lit")
    endif()
  endif()
endforeach()
