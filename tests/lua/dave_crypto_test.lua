-- The end-to-end encryption primitives against the reference vectors (../shared/references, next to the
-- repository's checkout; the tests are pending when it is not there).
local runtime = require("runtime")
local json = require("json")
local crypto = require("@discord/voice")._daveCrypto

local REFS = "../shared/references/"

local function unhex(h) return (h:gsub("..", function(x) return string.char(tonumber(x, 16)) end)) end

local function load(name)
  local f = io.open(REFS .. name, "rb")
  if not f then
    pending("reference vectors not found: " .. REFS .. name)
    return nil
  end
  local doc = json.decode(f:read("a"))
  f:close()
  return doc
end

-- Every test of a Wycheproof file, with its group; counts what ran.
local function eachCase(doc, fn)
  local n = 0
  for _, group in ipairs(doc.testGroups) do
    for _, t in ipairs(group.tests) do
      n = n + fn(group, t, "tcId " .. t.tcId .. " " .. t.comment)
    end
  end
  return n
end

describe("DAVE crypto", function()
  it("matches the known answers for SHA-256 and AES", function()
    assert.equal(unhex("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"), crypto.sha256(""))
    assert.equal(unhex("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"), crypto.sha256("abc"))
    assert.equal(unhex("69c4e0d86a7b0430d8cdb78070b4c55a"),
      crypto.aesEncryptBlock(unhex("000102030405060708090a0b0c0d0e0f"), unhex("00112233445566778899aabbccddeeff")))
  end)

  it("passes the HMAC-SHA-256 vectors, truncated tags included", function()
    local doc = load("wycheproof/hmac_sha256_test.json")
    if not doc then return end
    local n = eachCase(doc, function(group, t, what)
      local tag = crypto.hmac(unhex(t.key), unhex(t.msg)):sub(1, group.tagSize // 8)
      assert.equal(t.result == "valid", crypto.equal(tag, unhex(t.tag)), what)
      return 1
    end)
    assert.equal(doc.numberOfTests, n)
  end)

  it("passes the HKDF-SHA-256 vectors and refuses over-long output", function()
    local doc = load("wycheproof/hkdf_sha256_test.json")
    if not doc then return end
    local n = eachCase(doc, function(_, t, what)
      local ok, okm = pcall(function()
        return crypto.hkdfExpand(crypto.hkdfExtract(unhex(t.salt), unhex(t.ikm)), unhex(t.info), t.size)
      end)
      if t.result == "valid" then assert.equal(unhex(t.okm), okm, what) else assert.is_false(ok, what) end
      return 1
    end)
    assert.equal(doc.numberOfTests, n)
  end)

  -- AES-128 with 96-bit nonces is all the protocol uses; other key and nonce sizes must be refused.
  it("passes the AES-128-GCM vectors and refuses other sizes", function()
    local doc = load("wycheproof/aes_gcm_test.json")
    if not doc then return end
    local used = eachCase(doc, function(group, t, what)
      local key, iv, aad, msg, sealed = unhex(t.key), unhex(t.iv), unhex(t.aad), unhex(t.msg), unhex(t.ct .. t.tag)
      if group.keySize ~= 128 or group.ivSize ~= 96 then
        assert.is_false(pcall(crypto.gcmSeal, key, iv, msg, aad), what)
        return 0
      end
      if t.result == "valid" then
        assert.equal(sealed, crypto.gcmSeal(key, iv, msg, aad), what)
        assert.equal(msg, crypto.gcmOpen(key, iv, sealed, aad), what)
      else
        assert.is_nil(crypto.gcmOpen(key, iv, sealed, aad), what)
      end
      return 1
    end)
    assert.equal(67, used)
  end)

  it("truncates the tag to 8 bytes as media frames do", function()
    local doc = load("dave-vectors.json")
    if not doc then return end
    for i, f in ipairs(doc.opus_frames) do
      local key, iv, pt, aad = unhex(f.key), unhex(f.aes_gcm_nonce), unhex(f.plaintext), unhex(f.additional_data)
      local frame = unhex(f.frame)
      local ctx = crypto.gcm(key)
      assert.equal(frame:sub(1, #pt) .. unhex(f.full_tag), ctx:seal(iv, pt, aad), "frame " .. i)
      local short = frame:sub(1, #pt + 8)
      assert.equal(short, ctx:seal(iv, pt, aad, 8), "frame " .. i)
      assert.equal(pt, ctx:open(iv, short, aad, 8), "frame " .. i)
      local flipped = short:sub(1, -2) .. string.char(short:byte(-1) ~ 1)
      assert.is_nil(ctx:open(iv, flipped, aad, 8), "frame " .. i)
    end
  end)

  it("takes secrets only from runtime.random_bytes", function()
    runtime.reset()
    assert.equal(32, #crypto.randomBytes(32))
    local saved = runtime.random_bytes
    runtime.random_bytes = nil
    local ok, err = pcall(crypto.randomBytes, 32)
    runtime.random_bytes = saved
    assert.is_false(ok)
    assert.matches("needs runtime.random_bytes", err)
  end)
end)
