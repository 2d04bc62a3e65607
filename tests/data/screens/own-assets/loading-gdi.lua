-- A publisher's own loading screen: its own colour and picture, and a picture it does not
-- ship, which comes from the defaults.
local mark = _gdi:loadImage("mark.png")
local track = _gdi:loadImage("track.png")
_gdi.bgColor = 0xFF2060A0

_gdi:onRender(function()
    _gdi:drawImage(mark, 0, 0, 40, 40)
    _gdi:drawImage(track, 100, 100, 50)
end)
