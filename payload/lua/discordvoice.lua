-- The voice module under a short name: require("discordvoice") gives @discord/voice.
return require("@discord/voice")
