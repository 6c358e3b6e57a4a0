-- Shared by every interface of the sample game: loaded first into each interface's Lua state.
-- Handlers named in "eventDef" lines that a window does not define itself are found here,
-- through the window table's metatable.

util = {}

-- Prints a table's fields (the engine calls it when a window's table is missing).
function util.pt(t)
  for k, v in pairs(t) do
    sys.println(tostring(k), tostring(v))
  end
end

-- Button colours: resting, under the mouse, pressed.
ui = {
  idle = "0.16 0.24 0.40 0.9",
  hot = "0.30 0.50 0.85 1",
  pressed = "0.95 0.75 0.30 1",
}

-- Hover and click feedback for any window whose background is a button colour.
function button_enter(self)
  sys.transition("backcolor", ui.idle, ui.hot, "150")
end

function button_exit(self)
  sys.transition("backcolor", ui.hot, ui.idle, "250")
end

-- Buttons fade in when their interface opens (the named event "intro").
function button_intro(self)
  sys.transition("backcolor", "0.16 0.24 0.40 0", ui.idle, "400")
end

function button_press(self)
  sys.transition("backcolor", ui.pressed, ui.hot, "300")
end
