-- SPDX-License-Identifier: MIT
-- Wireshark and tshark dissector for the datagrams glow_ctl exchanges with
-- the LED controller: the sync, the controller's reply and the write.
--
--   tshark -X lua_script:glowctl.lua -r link.pcap
--   or copy this file into ~/.local/lib/wireshark/plugins/
--
-- Registered on UDP port 9000, the default build's; a board built with
-- another port sets it under Preferences > Protocols > GLOWCTL (tshark:
-- -o glowctl.port:9100). Written for Lua 5.2, which Debian 12's Wireshark
-- runs: no integer division, no bit operators.
--
-- A datagram is 44 bytes, big-endian: the length 44, the fixed bytes 0x40
-- 0x20, two zero bytes, the sequence (0xFFFF in a sync), twenty zero bytes,
-- the fixed byte 0x02, three zero bytes, then three register entries (a
-- register number, then its 16-bit pattern) for the red, green and blue
-- channel of one LED: registers 3*led+4, +5 and +6. Whatever departs from
-- that is still shown byte by byte and flagged as malformed, never refused,
-- and the same way wherever it stands: only a datagram with the layout is a
-- sync, reply or write. A datagram that the capture cut short (a small snap
-- length) is decoded up to the cut and flagged as such: its length is the
-- one UDP reports.

local glowctl = Proto("glowctl", "glow_ctl LED controller datagram")

local LAYOUT_LENGTH = 44
local TAG = 0x4020
local MARKER = 0x02
local SYNC_SEQUENCE = 0xFFFF
local FIRST_REGISTER = 4
local LEDS = 3
local CHANNELS = { "red", "green", "blue" }
-- Where each field sits: offset and size in bytes.
local AT = {
	length = { 0, 2 }, tag = { 2, 2 }, zero1 = { 4, 2 }, sequence = { 6, 2 },
	zero2 = { 8, 20 }, marker = { 28, 1 }, zero3 = { 29, 3 }, entries = { 32, 12 },
}
local ENTRY_SIZE = 4
-- Where the fields end, in order: a cut-off datagram holds the fields up to
-- one of these whole, and the bytes after it as a cut-off field.
local FIELD_ENDS = { 2, 4, 6, 8, 28, 29, 32, 36, 40, 44 }

-- The value keywords glow_ctl takes, by the pattern each selects.
local KEYWORDS = {
	[0xFFFF] = "on", [0x00FF] = "slow", [0x0F0F] = "norm",
	[0x3333] = "fast", [0x5555] = "ultra", [0x0000] = "off",
}

local fields = {
	length = ProtoField.uint16("glowctl.length", "Length", base.DEC),
	tag = ProtoField.uint16("glowctl.tag", "Fixed bytes", base.HEX),
	zero = ProtoField.bytes("glowctl.zero", "Zero bytes"),
	sequence = ProtoField.uint16("glowctl.sequence", "Sequence", base.HEX),
	marker = ProtoField.uint8("glowctl.marker", "Fixed byte", base.HEX),
	kind = ProtoField.string("glowctl.kind", "Kind"),
	led = ProtoField.uint8("glowctl.led", "LED", base.DEC),
	register = ProtoField.uint16("glowctl.register", "Register", base.DEC),
	-- The patterns carry the keywords as value strings: the tree reads
	-- "Red: fast (0x3333)" and a filter can name them (glowctl.red == "fast").
	red = ProtoField.uint16("glowctl.red", "Red", base.HEX, KEYWORDS),
	green = ProtoField.uint16("glowctl.green", "Green", base.HEX, KEYWORDS),
	blue = ProtoField.uint16("glowctl.blue", "Blue", base.HEX, KEYWORDS),
	value = ProtoField.uint16("glowctl.value", "Value", base.HEX, KEYWORDS),
	extra = ProtoField.bytes("glowctl.extra", "Bytes past the layout"),
	cut = ProtoField.bytes("glowctl.cut", "Cut-off field"),
	partial = ProtoField.bytes("glowctl.partial", "Part of a field"),
}
glowctl.fields = {
	fields.length, fields.tag, fields.zero, fields.sequence, fields.marker, fields.kind,
	fields.led, fields.register, fields.red, fields.green, fields.blue, fields.value, fields.extra,
	fields.cut, fields.partial,
}

local experts = {
	length = ProtoExpert.new("glowctl.length.unexpected", "Not the datagram's 44 bytes",
		expert.group.MALFORMED, expert.severity.WARN),
	fixed = ProtoExpert.new("glowctl.fixed.unexpected", "Fixed or zero bytes differ from the layout",
		expert.group.MALFORMED, expert.severity.WARN),
	registers = ProtoExpert.new("glowctl.registers.unexpected",
		"Registers are not one LED's red, green and blue",
		expert.group.MALFORMED, expert.severity.WARN),
	unsequenced = ProtoExpert.new("glowctl.write.unsequenced",
		"Write sent without the controller's sequence: no reply came after the sync",
		expert.group.SEQUENCE, expert.severity.NOTE),
	unmatched = ProtoExpert.new("glowctl.sync.values",
		"Sequence 0xffff with values and no sync before it: a sync carrying values, or a write "
			.. "after a lost reply whose sync the capture missed",
		expert.group.SEQUENCE, expert.severity.NOTE),
	snapped = ProtoExpert.new("glowctl.capture.short", "Cut by the capture",
		expert.group.UNDECODED, expert.severity.NOTE),
}
glowctl.experts = {
	experts.length, experts.fixed, experts.registers, experts.unsequenced, experts.unmatched,
	experts.snapped,
}

glowctl.prefs.port = Pref.uint("UDP port", 9000, "The UDP port of the board's build (GLOW_PORT)")

-- Which end sent a sync tells a reply (towards it) from a write (from it):
-- both carry a sequence and run between the same two ports. And when no
-- reply comes, glow_ctl sends its write with the sync's own sequence 0xFFFF:
-- only the order tells that write from the next run's sync, so each end
-- that sent a sync is kept with whether it still awaits its reply. The
-- first pass over a capture decides each frame's kind; later passes read it
-- back.
local awaiting_reply = {}
local kind_of_frame = {}

function glowctl.init()
	awaiting_reply = {}
	kind_of_frame = {}
end

-- A pattern as Info shows it: its keyword, or the value that -T fields
-- prints where no keyword gives it.
local function keyword(pattern)
	return KEYWORDS[pattern] or string.format("0x%04x", pattern)
end

-- A pattern as the tree shows it, as Wireshark words a value string.
local function described(pattern)
	return string.format("%s (0x%04x)", KEYWORDS[pattern] or "Unknown", pattern)
end

local function endpoint(address, port)
	return tostring(address) .. ":" .. tostring(port)
end

-- The frame's kind: sync, reply, write, or "datagram" when the capture
-- began past the sync; then the note it earns, if any. with_values: whether
-- any channel is set (nil when the capture cut the entries off). A datagram
-- quoted in an ICMP error is not part of the exchange's order: "quoted";
-- nor is one off the layout: "malformed", whatever came before it.
local function frame_kind(pinfo, sequence, with_values, sound)
	if pinfo.in_error_pkt then
		return "quoted"
	end
	if not sound then
		return "malformed"
	end
	local known = kind_of_frame[pinfo.number]
	if known then
		return known[1], known[2]
	end
	local from, to = endpoint(pinfo.src, pinfo.src_port), endpoint(pinfo.dst, pinfo.dst_port)
	local kind, note = "datagram", nil
	if awaiting_reply[to] ~= nil then
		kind = "reply"
		awaiting_reply[to] = false
	elseif sequence == SYNC_SEQUENCE and awaiting_reply[from] then
		kind, note = "write", experts.unsequenced
		awaiting_reply[from] = false
	elseif sequence == SYNC_SEQUENCE and with_values then
		note = experts.unmatched
	elseif sequence == SYNC_SEQUENCE then
		kind = "sync"
		awaiting_reply[from] = true
	elseif awaiting_reply[from] ~= nil then
		kind = "write"
		awaiting_reply[from] = false
	end
	kind_of_frame[pinfo.number] = { kind, note }
	return kind, note
end

-- The bytes of field name that the datagram holds, or nil past its end.
local function range_of(tvb, name)
	local offset, size = AT[name][1], AT[name][2]
	if tvb:len() < offset + size then
		return nil
	end
	return tvb(offset, size)
end

-- Adds a zero field; flags it when a byte is not 0.
local function add_zero(tree, tvb, name)
	local range = range_of(tvb, name)
	if not range then
		return true
	end
	local item = tree:add(fields.zero, range)
	for i = 0, range:len() - 1 do
		if range(i, 1):uint() ~= 0 then
			item:add_proto_expert_info(experts.fixed, "Byte " .. (range:offset() + i) .. " is not 0")
			return false
		end
	end
	return true
end

-- Adds a fixed field; flags it when it differs.
local function add_fixed(tree, tvb, name, field, expected, text)
	local range = range_of(tvb, name)
	if not range then
		return true
	end
	local item = tree:add(field, range)
	if range:uint() ~= expected then
		item:add_proto_expert_info(experts.fixed, text)
		return false
	end
	return true
end

-- The LED whose red, green and blue registers the entries are, in that
-- order, or nil.
local function led_of(registers)
	local first = registers[1]
	if #registers ~= 3 or first < FIRST_REGISTER or (first - FIRST_REGISTER) % 3 ~= 0 then
		return nil
	end
	local led = math.floor((first - FIRST_REGISTER) / 3)
	if led >= LEDS or registers[2] ~= first + 1 or registers[3] ~= first + 2 then
		return nil
	end
	return led
end

-- Adds the register entries the datagram holds; returns the Info column's
-- words for them, whether they are one LED's, and whether any value is set
-- (nil when not all three entries were captured).
local function add_entries(tree, tvb)
	local start = AT.entries[1]
	local registers = {}
	for i = 0, 2 do
		local offset = start + i * ENTRY_SIZE
		if tvb:len() >= offset + ENTRY_SIZE then
			registers[#registers + 1] = tvb(offset, 2):uint()
		end
	end
	if #registers == 0 then
		return "", true, nil, nil
	end
	local led = led_of(registers)
	local entries = tree:add(glowctl, tvb(start, #registers * ENTRY_SIZE), "Register entries")
	if led then
		entries:add(fields.led, tvb(start, #registers * ENTRY_SIZE), led):set_generated()
	elseif #registers == 3 then
		entries:add_proto_expert_info(experts.registers)
	end
	local words, with_values = {}, false
	for i, register in ipairs(registers) do
		local offset = start + (i - 1) * ENTRY_SIZE
		local pattern = tvb(offset + 2, 2):uint()
		local name = led and CHANNELS[i] or ("register " .. register)
		local heading = "Register " .. register .. (led and (", " .. name) or "")
		local entry = entries:add(glowctl, tvb(offset, ENTRY_SIZE), heading .. ": " .. described(pattern))
		entry:add(fields.register, tvb(offset, 2))
		entry:add(led and fields[name] or fields.value, tvb(offset + 2, 2))
		words[#words + 1] = name .. " " .. keyword(pattern)
		with_values = with_values or pattern ~= 0
	end
	if #registers < 3 then
		with_values = nil
	end
	if led then
		return "LED " .. led, true, table.concat(words, ", "), with_values
	end
	return "", #registers < 3, table.concat(words, ", "), with_values
end

-- Shows the bytes at the end of what the capture kept (a cut-off field),
-- or of a datagram shorter than the layout (part of a field), that make no
-- whole field.
local function add_cut_off(tree, tvb, snapped)
	local size, whole = tvb:len(), 0
	for _, field_end in ipairs(FIELD_ENDS) do
		if field_end <= size then
			whole = field_end
		end
	end
	if whole < size and size < LAYOUT_LENGTH then
		tree:add(snapped and fields.cut or fields.partial, tvb(whole, size - whole))
	end
end

-- "N byte(s)".
local function bytes(count)
	return count .. (count == 1 and " byte" or " bytes")
end

function glowctl.dissector(tvb, pinfo, tree)
	-- size: the datagram's own length, as UDP reports it; captured: what
	-- the capture kept of it. Fields past the capture are left out, not
	-- taken for a short datagram.
	local size, captured = tvb:reported_len(), tvb:len()
	if size == 0 then
		return 0
	end
	pinfo.cols.protocol = "GLOWCTL"
	local subtree = tree:add(glowctl, tvb(), "glow_ctl datagram, " .. bytes(size))
	local sound = true
	if size ~= LAYOUT_LENGTH then
		subtree:add_proto_expert_info(experts.length, bytes(size) .. "; the layout has " .. LAYOUT_LENGTH)
		sound = false
	end
	local snapped = captured < size
	sound = add_fixed(subtree, tvb, "length", fields.length, LAYOUT_LENGTH,
		"The length field is not " .. LAYOUT_LENGTH) and sound
	sound = add_fixed(subtree, tvb, "tag", fields.tag, TAG, "Not the fixed bytes 0x40 0x20") and sound
	sound = add_zero(subtree, tvb, "zero1") and sound
	local range = range_of(tvb, "sequence")
	local sequence = range and range:uint()
	local sequence_item = range and subtree:add(fields.sequence, range)
	sound = add_zero(subtree, tvb, "zero2") and sound
	sound = add_fixed(subtree, tvb, "marker", fields.marker, MARKER, "Not the fixed byte 0x02") and sound
	sound = add_zero(subtree, tvb, "zero3") and sound
	local led, one_led, channels, with_values = add_entries(subtree, tvb)
	sound = one_led and sound
	add_cut_off(subtree, tvb, snapped)
	if captured > LAYOUT_LENGTH then
		subtree:add(fields.extra, tvb(LAYOUT_LENGTH))
	end
	if snapped then
		subtree:add_proto_expert_info(experts.snapped, string.format(
			"The capture kept %s of the datagram's %s; the fields past byte %d are not shown",
			bytes(captured), bytes(size), captured - 1))
	end
	if not sequence then
		local kind = snapped and "cut" or "short"
		subtree:add(fields.kind, kind):set_generated()
		pinfo.cols.info = (snapped and "datagram cut by the capture, " or "short datagram, ") .. bytes(size)
		return captured
	end
	local kind, note = frame_kind(pinfo, sequence, with_values, sound)
	subtree:add(fields.kind, kind):set_generated()
	-- 0xFFFF is a sync's own sequence, and also the one a write carries
	-- when no reply came.
	if kind == "sync" then
		sequence_item:append_text(" (sync)")
	elseif note == experts.unsequenced then
		sequence_item:append_text(" (the sync's: no reply came)")
	end
	if note then
		subtree:add_proto_expert_info(note)
	end
	local info = kind == "malformed" and "datagram" or kind
	if kind ~= "sync" then
		info = info .. string.format(" seq 0x%04x", sequence)
	end
	if led ~= "" then
		info = info .. " " .. led
	end
	if channels and kind ~= "sync" then
		info = info .. (led ~= "" and ": " or " ") .. channels
	end
	if note == experts.unsequenced then
		info = info .. " [no reply]"
	end
	if not sound then
		info = info .. " [malformed]"
	end
	if snapped then
		info = info .. " [cut by the capture]"
	end
	pinfo.cols.info = info
	return captured
end

local registered_port = glowctl.prefs.port
DissectorTable.get("udp.port"):add(registered_port, glowctl)

function glowctl.prefs_changed()
	if glowctl.prefs.port ~= registered_port then
		DissectorTable.get("udp.port"):remove(registered_port, glowctl)
		registered_port = glowctl.prefs.port
		DissectorTable.get("udp.port"):add(registered_port, glowctl)
	end
end
