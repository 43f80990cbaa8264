-- Alias: require("discord.lua") loads the discord package.
return require("discord")
