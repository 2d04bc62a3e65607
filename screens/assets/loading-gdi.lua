-- The default loading screen: a centred background picture, two progress bars with a moving
-- marker each (the lower one for the whole run, the upper one for the current stage) and a
-- status text on each bar. Drawn every frame through _gdi; nothing is scaled, the layout follows
-- the window's size.

local gdi = _gdi

local font = gdi:loadFont("黑体", 14)
local background = gdi:loadImage("bg.png")
local marker = gdi:loadImage("front.png")
local fillLeft = gdi:loadImage("left.png")
local fillRight = gdi:loadImage("right.png")
local fillTrack = gdi:loadImage("track.png")
local emptyLeft = gdi:loadImage("bleft.png")
local emptyRight = gdi:loadImage("bright.png")
local emptyTrack = gdi:loadImage("btrack.png")

gdi.bgColor = 0xFF404040

local white = 0xFFFFFFFF
local centred = _GDI.hCenter + _GDI.vCenter

-- One message per stage of the run, and for each stage the steps within it.
local stages = {
	"Loading scene resources...",
	"Loading texture resources...",
	"Loading effect resources...",
	"Loading model resources...",
	"Entering the game...",
}

local details = {
	{
		"Loading scene models...",
		"Loading scene textures...",
		"Loading scene effects...",
		"Loading scene animations...",
		"Loading scene sounds...",
		"Loading scene cameras...",
		"Loading scene surfaces...",
		"Loading scene environment...",
	},
	{
		"Loading pet textures...",
		"Loading hero textures...",
		"Loading non-player character textures...",
		"Loading monster textures...",
		"Loading fine textures...",
		"Loading bump textures...",
	},
	{
		"Loading character effects...",
		"Loading interface effects...",
		"Loading particle effects...",
		"Loading non-player character effects...",
		"Loading monster effects...",
	},
	{
		"Loading mount models...",
		"Loading mount textures...",
		"Loading mount effects...",
		"Loading mount animations...",
		"Loading mount cameras...",
	},
	{
		"Optimising details...",
		"Loading player information...",
	},
}

-- Width of the bars' tracks; shrinks (for good) when a window is too narrow for them.
local barWidth = 1038

-- Draws the top-left w x h pixels of an image; a part above or left of the window is cut off.
local function draw(image, x, y, w, h)
	if x < 0 then
		w = w + x
		x = 0
	end
	if y < 0 then
		h = h + y
		y = 0
	end
	if w > 0 and h > 0 then
		gdi:drawImage(image, x, y, w, h)
	end
end

local function percent(value)
	return string.format("%.1f%%", value * 100)
end

-- One bar at (x, y) filled to p (0..1): the empty bar, the filled part over it, the marker at
-- the end of the fill.
local function drawBar(x, y, p)
	local leftW = gdi:getImageWidth(emptyLeft)
	local trackH = gdi:getImageHeight(fillTrack)
	local fill = math.floor(p * barWidth)
	draw(emptyTrack, x + leftW, y + 3, barWidth, gdi:getImageHeight(emptyTrack))
	draw(emptyLeft, x, y, leftW, gdi:getImageHeight(emptyLeft))
	draw(emptyRight, x + leftW + barWidth, y, gdi:getImageWidth(emptyRight), gdi:getImageHeight(emptyRight))
	draw(fillTrack, x + leftW, y + 3, fill, trackH)
	draw(fillLeft, x, y, gdi:getImageWidth(fillLeft), gdi:getImageHeight(fillLeft))
	local markerW, markerH = gdi:getImageWidth(marker), gdi:getImageHeight(marker)
	draw(marker, x + leftW + fill - markerW + 80, y + math.floor(trackH / 2 - markerH / 2), markerW, markerH)
end

local function drawStatus(y, text, width)
	local trackH = gdi:getImageHeight(fillTrack)
	gdi:drawText(font, text, 0, y - 1, width, y + trackH + 9, centred, white)
end

gdi:onRender(function()
	local W, H = gdi.w, gdi.h
	local bgW, bgH = gdi:getImageWidth(background), gdi:getImageHeight(background)
	draw(background, math.floor((W - bgW) / 2), math.floor((H - bgH) / 2), bgW, bgH)

	local p = gdi.progress
	if p < 0 then p = 0 elseif p > 1 then p = 1 end
	local p1 = math.max(p, 0.01)
	local stage = math.ceil(p1 * #stages)
	local p2 = math.max((p1 * #stages) % 1, 0.01)

	local leftW, rightW = gdi:getImageWidth(fillLeft), gdi:getImageWidth(fillRight)
	local x0 = math.floor((W - barWidth - leftW - rightW) / 2)
	if x0 < 0 then
		x0 = 0
		barWidth = math.max(W - leftW - rightW, 0)
	end
	local yLow = math.max(0, H - bgH + 976 - gdi:getImageHeight(emptyLeft))
	local yUp = math.max(0, yLow - 50)

	drawBar(x0, yLow, p1)
	drawStatus(yLow, stages[stage] .. " " .. percent(p1), W)

	local group = details[stage]
	drawBar(x0, yUp, p2)
	drawStatus(yUp, group[math.ceil(p2 * #group)] .. " " .. percent(p2), W)
end)
