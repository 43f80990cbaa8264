return require("@discord/voice")
