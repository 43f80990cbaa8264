-- The library and its tests: Lua 5.4, no globals, lines of at most 120 characters.
std = "lua54"
max_line_length = 120
max_code_line_length = 120
max_string_line_length = 120
max_comment_line_length = 120
allow_defined_top = false
-- Methods keep the `obj:method()` form even when they do not read self.
self = false
exclude_files = { "build/**" }

files["tests/lua"] = { std = "+busted" }
-- The benchmarks drop their references before a heap is measured: the values are set for the collector.
files["bench"] = { ignore = { "311", "331" } }
