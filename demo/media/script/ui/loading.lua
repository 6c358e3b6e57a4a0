-- The loading screen's progress: the engine reports the map load through the status text
-- "map_loadstatus" and the fraction "map_loading" (1 when done); each status stands for how far
-- the load has come.

loading = {
  stages = {
    ["loading spatial system"] = 0.15,
    ["processing entities"] = 0.45,
    ["normalizing physics"] = 0.70,
    ["pre-caching evironment interactions"] = 0.90,
  },
  shown = 0,
  width = 400,
}

-- Moves the bar ("fill" inside "bar") towards the current progress; runs on the desktop.
function loading.update()
  local done = sys.get("map_loading") or 0
  local status = sys.get("map_loadstatus") or ""
  local target = loading.stages[status] or 0
  if type(done) == "number" and done > target then
    target = done
  end
  if target > loading.shown then
    local from = string.format("0 0 %d 16", math.floor(loading.width * loading.shown))
    local to = string.format("0 0 %d 16", math.floor(loading.width * target))
    sys.transition("bar:fill:rect", from, to, "200")
    loading.shown = target
  end
end
