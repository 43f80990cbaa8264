-- The end-to-end encryption primitives against known answers and the reference vectors.
local runtime = require("runtime")
local crypto = require("@discord/voice")._daveCrypto
local vectors = require("vectors")
local unhex, with = vectors.unhex, vectors.with
-- A test of wycheproof/<name>_test.json.
local function wp(name, body) return with("wycheproof/" .. name .. "_test.json", body) end

-- Runs fn(group, test, what) on a Wycheproof file, counting all but skips (false). With `sample`, of the
-- "valid" cases only tcId 1, 5, 9 ... unless DAVE_VECTORS=all: the curve files take minutes in full.
local ALL = os.getenv("DAVE_VECTORS") == "all"
local function eachCase(doc, fn, sample)
  local n = 0
  for _, group in ipairs(doc.testGroups) do
    for _, t in ipairs(group.tests) do
      if ALL or not sample or t.result ~= "valid" or t.tcId % 4 == 1 then
        n = n + (fn(group, t, "tcId " .. t.tcId .. " " .. t.comment) == false and 0 or 1)
      end
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

  it("derives scrypt keys (RFC 7914's first vector; the rest from Python's hashlib)", function()
    for _, c in ipairs({
      { "", "", 16, 1, 1, "77d6576238657b203b19ca42c18a0497f16b4844e3074ae8dfdffa3fede21442fcd0069ded0948f8326a753a0fc8"
        .. "1f17e8d3e0fb2e0d3628cf35e20c38d18906" },
      { ("p"):rep(150), unhex("24cab17a7af8ec2b82b412b92dab192e"), 16, 8, 2, "96f82361fe5f3f6adea764b1769b773ef7fc99"
        .. "5236719f1bebe6244c1e7d0160dc758f3f0a25da9f0072c03a3165ae0ff0fd2cc9da78ad0932559006c6050651" },
    }) do
      assert.equal(unhex(c[6]), crypto.scrypt(c[1], c[2], c[3], c[4], c[5], 64))
    end
    assert.has_error(function() crypto.scrypt("", "", 24, 1, 1, 64) end)
  end)

  it("passes the HMAC-SHA-256 vectors, truncated tags included", wp("hmac_sha256", function(doc)
    local n = eachCase(doc, function(group, t, what)
      local tag = crypto.hmac(unhex(t.key), unhex(t.msg)):sub(1, group.tagSize // 8)
      assert.equal(t.result == "valid", crypto.equal(tag, unhex(t.tag)), what)
    end)
    assert.equal(doc.numberOfTests, n)
  end))

  it("passes the HKDF-SHA-256 vectors and refuses over-long output", wp("hkdf_sha256", function(doc)
    local n = eachCase(doc, function(_, t, what)
      local ok, okm = pcall(function()
        return crypto.hkdfExpand(crypto.hkdfExtract(unhex(t.salt), unhex(t.ikm)), unhex(t.info), t.size)
      end)
      if t.result == "valid" then assert.equal(unhex(t.okm), okm, what) else assert.is_false(ok, what) end
    end)
    assert.equal(doc.numberOfTests, n)
  end))

  -- AES-128 with 96-bit nonces is all the protocol uses; other key and nonce sizes must be refused.
  it("passes the AES-128-GCM vectors and refuses other sizes", wp("aes_gcm", function(doc)
    local used = eachCase(doc, function(group, t, what)
      local key, iv, aad, msg, sealed = unhex(t.key), unhex(t.iv), unhex(t.aad), unhex(t.msg), unhex(t.ct .. t.tag)
      if group.keySize ~= 128 or group.ivSize ~= 96 then
        assert.is_false(pcall(crypto.gcmSeal, key, iv, msg, aad), what)
        return false
      end
      if t.result == "valid" then
        assert.equal(sealed, crypto.gcmSeal(key, iv, msg, aad), what)
        assert.equal(msg, crypto.gcmOpen(key, iv, sealed, aad), what)
      else
        assert.is_nil(crypto.gcmOpen(key, iv, sealed, aad), what)
      end
    end)
    assert.equal(67, used)
  end))

  -- Wycheproof writes scalars as signed big-endian integers of any length.
  local function scalar(h)
    local v = unhex(h):gsub("^%z+", "")
    return string.rep("\0", 32 - #v) .. v
  end

  it("passes the P-256 ECDH vectors, refusing every invalid point", wp("ecdh_secp256r1_ecpoint", function(doc)
    local n = eachCase(doc, function(_, t, what)
      local shared, err = crypto.ecdh(scalar(t.private), unhex(t.public))
      -- The one "acceptable" case is a compressed point; only uncompressed points are taken.
      if t.result == "valid" then assert.equal(unhex(t.shared), shared, what) else assert.is_string(err, what) end
    end, true)
    assert.equal(ALL and doc.numberOfTests or 108, n)
  end))

  for file, sampled in pairs({ ecdsa_secp256r1_sha256_test = 354, ecdsa_secp256r1_sha256_p1363_test = 130 }) do
    it("verifies as " .. file .. " says", with("wycheproof/" .. file .. ".json", function(doc)
      local verify = file:find("p1363") and crypto.ecdsaVerifyRaw or crypto.ecdsaVerify
      local n = eachCase(doc, function(group, t, what)
        assert.equal(t.result == "valid", verify(unhex(group.publicKey.uncompressed), unhex(t.msg), unhex(t.sig)), what)
      end, true)
      assert.equal(ALL and doc.numberOfTests or sampled, n)
    end))
  end

  it("signs deterministically and verifies its own signatures", function()
    local sk = unhex("c9afa9d845ba75166b5c215767b1d6934e50c3db36e89b127b8a622b120f6721")
    assert.equal(unhex("efd48b2aacb6a8fd1140dd9cd45e81d69d2c877b56aaf991c34d0ea84eaf3716" ..
      "f7cb1c942d657c41d436c7a1b6e29f65f3e900dbb9aff4064dc4ab2f843acda8"), crypto.ecdsaSign(sk, "sample", true))
    local pub, sig = crypto.publicKey(sk), crypto.ecdsaSign(sk, "sample")
    assert.same({ true, false }, { crypto.ecdsaVerify(pub, "sample", sig), crypto.ecdsaVerify(pub, "samplf", sig) })
    local n = unhex("ffffffff00000000ffffffffffffffffbce6faada7179e84f3b9cac2fc632551")
    for _, bad in ipairs({ string.rep("\0", 32), n, string.rep("\255", 32), sk:sub(2) }) do
      assert.same({ false, false }, { pcall(crypto.ecdsaSign, bad, "sample"), (pcall(crypto.publicKey, bad)) })
    end
    assert.is_string(crypto.publicKey(n:sub(1, 31) .. "\x50"))
  end)

  it("takes secrets only from runtime.random_bytes", function()
    runtime.reset()
    local sk, pk = crypto.generateKeyPair()
    local other = crypto.generateKeyPair()
    runtime.reset()
    assert.same({ pk, true, sk }, { crypto.publicKey(sk), sk ~= other, (crypto.generateKeyPair()) })
    local saved = runtime.random_bytes
    runtime.random_bytes = nil
    local ok, err = pcall(crypto.generateKeyPair)
    local sealed = pcall(crypto.sealBase, pk, "info", "", "secret")
    runtime.random_bytes = saved
    assert.same({ false, true, false }, { ok, err:find("needs runtime.random_bytes") ~= nil, sealed })
  end)
end)
