-- A sampling profiler for the benchmarks, never the library: `debug.sethook(s.hook, "", n)` samples every
-- n VM instructions, counting each function on the stack once (its share of the time, callees included).
local M = {}

function M.new()
  local counts = { total = 0 }
  local s = { counts = counts }
  function s.hook()
    local seen, level = {}, 2
    while true do
      local info = debug.getinfo(level, "Sn")
      if not info then break end
      local key = ("%s:%d %s"):format(info.short_src:match("[^/]*/?[^/]*$"), info.linedefined, info.name or "?")
      if not seen[key] then seen[key], counts[key] = true, (counts[key] or 0) + 1 end
      level = level + 1
    end
    counts.total = counts.total + 1
  end
  -- The `n` most sampled functions as lines "share  file:line name".
  function s.top(n)
    local rows, out = {}, {}
    for k, c in pairs(counts) do
      if k ~= "total" then rows[#rows + 1] = { k, c } end
    end
    table.sort(rows, function(a, b) return a[2] > b[2] end)
    for r = 1, math.min(n, #rows) do
      out[r] = ("%5.1f%%  %s"):format(rows[r][2] / math.max(1, counts.total) * 100, rows[r][1])
    end
    return out
  end
  return s
end

return M
