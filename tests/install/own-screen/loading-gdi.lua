-- A publisher's own loading screen, as small as one can be: a dark blue ground with a gold
-- panel in the middle, so that a screenshot tells it from the default screen at a glance.
_gdi.bgColor = 0xFF102A5C

_gdi:onRender(function()
    local w, h = _gdi.w, _gdi.h
    _gdi:fillRect(math.floor(w / 2) - 100, math.floor(h / 2) - 50, math.floor(w / 2) + 100,
                  math.floor(h / 2) + 50, 0xFFE0B020)
end)
