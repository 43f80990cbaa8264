-- Discord's OpenAPI description (tests/data/discord-openapi, MIT) as the fake Discord's referee: it finds the
-- operation of a request, checks its query and body as Discord would, checks the fake's own answer against the
-- response schema, and can make a minimal answer for an operation the fake has no route for.
-- Objects are closed in both directions: Discord drops or refuses fields it does not describe, and a fake that
-- answers with one teaches the library a shape Discord does not send.
local json = require("json")

local M = { refusals = {} }

local METHODS = { get = "GET", post = "POST", put = "PUT", patch = "PATCH", delete = "DELETE" }
local api, ops

local function load()
  if api then return end
  api = require("vectors").json("tests/data/discord-openapi/openapi.json")
  ops = {}
  local function add(method, template, op, documented)
    local bot = documented or false
    for _, sec in ipairs(op.security or {}) do bot = bot or sec.BotToken ~= nil end
    -- The description marks the old pins routes by their name only.
    op.deprecated = op.deprecated or (op.operationId or ""):match("^deprecated_") ~= nil
    ops[#ops + 1] = { method = method, template = template, segs = M.segments(template), op = op, bot = bot,
      id = op.operationId or (method .. " " .. template) }
  end
  for template, item in pairs(api.paths) do
    for m, op in pairs(item) do
      if METHODS[m] then
        op.parameters = op.parameters or {}
        for _, p in ipairs(item.parameters or {}) do table.insert(op.parameters, p) end
        add(METHODS[m], template, op)
      end
    end
  end
  -- Documented, not described: a forum post's answer carries its starter message; a command edit takes nsfw;
  -- an application's description is edited as a string.
  local schemas = api.components.schemas
  schemas.CreatedThreadResponse.properties.message = { ["$ref"] = "#/components/schemas/MessageResponse" }
  schemas.ApplicationCommandPatchRequestPartial.properties.nsfw = { type = { "boolean", "null" } }
  local description = schemas.ApplicationFormPartial.properties.description
  schemas.ApplicationFormPartial.properties.description = { anyOf = { { type = "string", maxLength = 400 },
    description } }
  -- Routes of the documentation that the description lacks (the documentation is the newer word).
  add("GET", "/applications/{application_id}/skus", { parameters = {}, responses = { ["200"] = { content = {
    ["application/json"] = { schema = { type = "array", items = { type = "object" } } } } } } }, true)
  table.sort(ops, function(a, b) return a.template .. a.method < b.template .. b.method end)
end

--- The ID of every operation a bot token may call.
function M.botOperations()
  load()
  local out = {}
  for _, o in ipairs(ops) do out[#out + 1] = o.bot and o.id or nil end
  return out
end

--- Segments of a path or template.
function M.segments(path)
  local segs = {}
  for s in path:gmatch("[^/]+") do segs[#segs + 1] = s end
  return segs
end

--- The entry of `list` ({method, segs}) that a path matches, literal segments winning over parameters ("{name}"
--- or ":name"), and the path's parameters.
function M.match(list, method, path)
  local segs, best, params, bestScore = M.segments(path)
  for _, o in ipairs(list) do
    if o.method == method and #o.segs == #segs then
      local p, score = {}, 0
      for i, s in ipairs(o.segs) do
        local name = s:match("^{(.*)}$") or s:match("^:(.+)")
        if name then p[name] = segs[i] elseif s == segs[i] then score = score + 1 else score = nil break end
      end
      if score and (not bestScore or score > bestScore) then best, params, bestScore = o, p, score end
    end
  end
  return best, params
end

--- The operation of a request path ("/channels/1/messages").
function M.find(method, path)
  load()
  return (M.match(ops, method, path))
end

local function resolve(s)
  while s["$ref"] do
    local node = api
    for part in s["$ref"]:gmatch("[^/#]+") do node = node[part] end
    s = node
  end
  return s
end

local function typeOf(v)
  if v == json.null then return "null" end
  local t = type(v)
  if t == "number" then return math.type(v) == "integer" and "integer" or "number" end
  if t == "table" then
    if json.is_array(v) then return "array" end
    return next(v) == nil and "empty" or "object"
  end
  return t
end

-- Discord reads an integer from a decimal string in a request (the documentation writes permissions so).
local requestSide = false

local function typeOk(want, got, v)
  return want == got or (want == "number" and got == "integer")
    or (got == "empty" and (want == "array" or want == "object"))
    or (requestSide and want == "integer" and got == "string" and v:match("^%d+$") ~= nil)
end

local check

-- Checks v against schema s; appends "where: what" lines to errs.
function check(s, v, where, errs)
  s = resolve(s)
  local function bad(text) errs[#errs + 1] = where .. text end
  if s.allOf then for _, sub in ipairs(s.allOf) do check(sub, v, where, errs) end end
  local alts = s.oneOf or s.anyOf
  if alts then
    local bestErrs
    for _, sub in ipairs(alts) do
      local e = {}
      check(sub, v, where, e)
      if #e == 0 then
        bestErrs = nil
        break
      end
      -- The closest branch explains the refusal; one of another type explains nothing.
      local wrongType = #e == 1 and e[1]:sub(1, #where + 2) == where .. ": "
        and e[1]:find(" where Discord takes ", 1, true)
      local score = wrongType and math.huge or #e
      if not bestErrs or score < bestErrs.score then bestErrs = { score = score, table.unpack(e) } end
    end
    for _, e in ipairs(bestErrs or {}) do errs[#errs + 1] = e end
  end
  local got = typeOf(v)
  if s.type then
    local ok = false
    for _, t in ipairs(type(s.type) == "table" and s.type or { s.type }) do ok = ok or typeOk(t, got, v) end
    if not ok then
      local want = type(s.type) == "table" and table.concat(s.type, "|") or s.type
      bad(": " .. got .. " where Discord takes " .. want)
      return
    end
  end
  if s.const ~= nil and v ~= s.const then bad(": " .. tostring(v) .. " is not " .. tostring(s.const)) end
  -- An empty enum leaves the values to the type its allOf names.
  if s.enum and #s.enum > 0 then
    local ok = false
    for _, e in ipairs(s.enum) do ok = ok or e == v end
    if not ok then bad(": " .. tostring(v) .. " is not one of the enum") end
  end
  if got == "string" then
    local n = utf8.len(v) or #v
    if s.maxLength and n > s.maxLength then bad(": longer than " .. s.maxLength) end
    if s.minLength and n < s.minLength then bad(": shorter than " .. s.minLength) end
    if s.format == "snowflake" and not v:match("^%d+$") then bad(": not a snowflake") end
    if s.format == "date-time" and not v:match("^%d%d%d%d%-%d%d%-%d%dT%d%d:%d%d:%d%d") then bad(": not a date-time") end
  elseif got == "integer" or got == "number" then
    if s.minimum and v < s.minimum then bad(": below " .. s.minimum) end
    if s.maximum and v > s.maximum then bad(": above " .. s.maximum) end
  elseif got == "array" then
    if s.maxItems and #v > s.maxItems then bad(": more than " .. s.maxItems .. " items") end
    if s.minItems and #v < s.minItems then bad(": fewer than " .. s.minItems .. " items") end
    if s.items then for i, item in ipairs(v) do check(s.items, item, where .. "[" .. (i - 1) .. "]", errs) end end
  elseif got == "object" or (got == "empty" and s.properties) then
    for _, name in ipairs(s.required or {}) do if v[name] == nil then bad("." .. name .. ": required") end end
    local extra = s.additionalProperties
    for k, item in pairs(v) do
      local sub = s.properties and s.properties[k]
      if sub then
        check(sub, item, where .. "." .. k, errs)
      elseif type(extra) == "table" then
        check(extra, item, where .. "." .. k, errs)
      elseif s.properties and extra ~= true then
        bad("." .. tostring(k) .. ": not a field Discord knows")
      end
    end
  end
end

local function queryValue(s, text)
  s = resolve(s)
  local t = type(s.type) == "table" and s.type[1] or s.type
  if t == "array" then return json.array({ queryValue(s.items, text) }) end
  if t == "integer" then return math.tointeger(tonumber(text)) or text end
  if t == "number" then return tonumber(text) or text end
  if t == "boolean" then if text == "true" then return true elseif text == "false" then return false end end
  return text
end

--- Errors of a request (method, path, query table, decoded body or nil, multipart files) against Discord's
--- description.
function M.checkRequest(method, path, query, body, files)
  local o = M.find(method, path)
  if not o then return { method .. " " .. path .. ": no such operation in Discord's OpenAPI description" } end
  local errs = {}
  if o.op.deprecated then errs[#errs + 1] = "deprecated: the library sends its successor" end
  local known = {}
  for _, p in ipairs(o.op.parameters) do
    if p["in"] == "query" then
      known[p.name] = true
      if query[p.name] ~= nil then
        check(p.schema, queryValue(p.schema, query[p.name]), "query " .. p.name, errs)
      elseif p.required then
        errs[#errs + 1] = "query " .. p.name .. ": required"
      end
    end
  end
  for k in pairs(query or {}) do
    if not known[k] then errs[#errs + 1] = "query " .. k .. ": not a parameter of " .. o.id end
  end
  local content = o.op.requestBody and o.op.requestBody.content
  if content and not content["application/json"] and files then
    -- A route that takes only a form: its fields are the files themselves.
    body = json.object({})
    for _, f in ipairs(files) do body[f.field] = f.data end
  end
  if body ~= nil then
    local media = content and (content["application/json"] or content["multipart/form-data"])
    if not media then
      errs[#errs + 1] = "body: " .. o.id .. " takes none"
    else
      requestSide = true
      check(media.schema, body, "body", errs)
      requestSide = false
    end
  elseif o.op.requestBody and o.op.requestBody.required then
    -- No body reads as an empty object.
    check(content["application/json"].schema, json.object({}), "body", errs)
  end
  for i, e in ipairs(errs) do errs[i] = o.id .. " " .. e end
  return errs, o
end

local function okCodes(o)
  local codes = {}
  for code in pairs(o.op.responses) do if code:match("^2") then codes[#codes + 1] = code end end
  table.sort(codes)
  return codes
end

-- The JSON body of a response, if it has one.
local function jsonOf(r)
  r = resolve(r)
  return r.content and r.content["application/json"]
end

--- Errors of an answer (status, decoded body or nil) to a request the description knows.
function M.checkAnswer(method, path, status, body)
  local o = M.find(method, path)
  if not o or status >= 300 then return {} end
  local r = o.op.responses[tostring(status)]
  if not r then
    return { o.id .. ": answered " .. status .. " where Discord answers " .. table.concat(okCodes(o), "/") }
  end
  local media = jsonOf(r)
  if not media then return body ~= nil and { o.id .. ": answered a body where Discord answers none" } or {} end
  local errs = {}
  check(media.schema, body, "answer", errs)
  for i, e in ipairs(errs) do errs[i] = o.id .. " " .. e end
  return errs
end

-- Minimal answers
local ids = 0
local function sample(s, depth)
  s = resolve(s)
  for _, alt in ipairs(s.oneOf or s.anyOf or {}) do
    if resolve(alt).type ~= "null" then return sample(alt, depth) end
  end
  if s.const ~= nil then return s.const end
  if s.enum and #s.enum > 0 then return s.enum[1] end
  local t = s.type
  if type(t) == "table" then
    for _, x in ipairs(t) do if x ~= "null" then t = x break end end
    if depth > 6 then return json.null end
  end
  if t == "string" then
    if s.format == "snowflake" then
      ids = ids + 1
      return tostring(900000000000000000 + ids)
    end
    if s.format == "date-time" then return "2026-01-01T00:00:00.000000+00:00" end
    if s.format == "uri" then return "https://example.invalid/" end
    return ("x"):rep(s.minLength or 1)
  elseif t == "integer" or t == "number" then
    return math.max(s.minimum or 0, 0)
  elseif t == "boolean" then
    return false
  elseif t == "array" then
    return json.array({})
  elseif t == "object" or s.properties then
    local out = {}
    for _, name in ipairs(s.required or {}) do out[name] = sample(s.properties[name], depth + 1) end
    return json.object(out)
  end
  return json.null
end

--- A minimal object of a named schema, with `fields` over it.
function M.sample(name, fields)
  load()
  local out = sample(api.components.schemas[name], 0)
  for k, v in pairs(fields or {}) do out[k] = v end
  return out
end

--- A minimal answer Discord could give to the operation of a request: status, body.
function M.answer(method, path)
  local o = M.find(method, path)
  if not o then return nil end
  local codes = okCodes(o)
  local media = jsonOf(o.op.responses[codes[1]])
  return tonumber(codes[1]), media and sample(media.schema, 0) or nil
end

--- Notes a refusal; the test whose run saw it fails at the end of that run.
function M.refuse(kind, errs) for _, e in ipairs(errs) do M.refusals[#M.refusals + 1] = kind .. ": " .. e end end

--- Refusals since the last call, as one text (nil when there were none).
function M.takeRefusals()
  if #M.refusals == 0 then return nil end
  local text = table.concat(M.refusals, "\n")
  M.refusals = {}
  return text
end

return M
