-- Wireshark dissector for the Oxlo gateway protocol (UDP port 2057).
--
--   tshark -X lua_script:tools/wireshark/oxlo.lua -r capture.pcapng -Y oxlo
--
-- or copy this file into a Lua plugins folder (~/.local/lib/wireshark/plugins/).
-- The layouts are those protocol/ builds and parses. Every field access is
-- checked against the datagram's length, so a broken datagram gets expert
-- info instead of a Lua error; the pcall in the entry point is a last resort
-- that turns a missed check into expert info too.

local oxlo = Proto("oxlo", "Oxlo Gateway Protocol")

local STX, ETX = 0x02, 0x03
local PORT = 2057

-- Codes and their names -------------------------------------------------------

local C = {
  DISCOVERY = 0x67,
  ASSIGN = 0x53,
  NETWORK = 0x4E,
  OPMODE = 0x4F,
  APPLY = 0x41,
  NETWORK_REPLY = 0x6E,
  OPMODE_REPLY = 0x6F,
  APPLY_ACK = 0x61,
  UNCHANGED = 0x75,
  CAN = 0x43,
  CAN_REPLY = 0x63,
  FIRMWARE = 0x46,
  FIRMWARE_REPLY = 0x66,
}

local code_names = {
  [C.DISCOVERY] = "Discovery",
  [C.ASSIGN] = "Address assignment",
  [C.NETWORK] = "Network settings",
  [C.OPMODE] = "Operation mode",
  [C.APPLY] = "Apply",
  [C.NETWORK_REPLY] = "Network settings reply",
  [C.OPMODE_REPLY] = "Operation mode reply",
  [C.APPLY_ACK] = "Apply acknowledgement",
  [C.UNCHANGED] = "CAN settings unchanged",
  [C.CAN] = "CAN settings",
  [C.CAN_REPLY] = "CAN settings reply",
  [C.FIRMWARE] = "Firmware",
  [C.FIRMWARE_REPLY] = "Firmware reply",
}
for g = 1, 8 do
  code_names[g] = "Filter group " .. g
  code_names[0x10 + g] = "Filter group " .. g .. " reply"
end

-- What the read request of each settings code reads.
local reads = {
  [C.NETWORK] = "network settings",
  [C.OPMODE] = "operation mode",
  [C.CAN] = "CAN settings",
}

-- Received mode codes; 0, 4 and 5 read as COM_Redirector, 8 and up as nothing.
local mode_names = {
  [0] = "COM_Redirector", [1] = "COM_Redirector", [2] = "TCP_Server", [3] = "TCP_Client",
  [4] = "COM_Redirector", [5] = "COM_Redirector", [6] = "UDP_Server", [7] = "UDP_Client",
}
local rate_names = {}
for i, kbit in ipairs({ 20, 50, 100, 125, 200, 250, 300, 500, 800, 1000 }) do
  rate_names[i - 1] = kbit .. " kbps"
end

-- Fields -----------------------------------------------------------------------

local f = {
  code = ProtoField.uint8("oxlo.code", "Code", base.HEX, code_names),
  message = ProtoField.string("oxlo.message", "Message"),
  mac = ProtoField.ether("oxlo.mac", "MAC address"),
  ip = ProtoField.ipv4("oxlo.ip", "IP address"),
  gateway = ProtoField.ipv4("oxlo.gateway", "Gateway"),
  mask = ProtoField.ipv4("oxlo.mask", "Subnet mask"),
  dns = ProtoField.ipv4("oxlo.dns", "DNS server"),
  extra_ip = ProtoField.ipv4("oxlo.extra_ip", "Further address"),
  name = ProtoField.string("oxlo.name", "Device name"),
  version = ProtoField.string("oxlo.version", "Firmware version"),
  model = ProtoField.string("oxlo.model", "Model"),
  reserved = ProtoField.bytes("oxlo.reserved", "Reserved"),
  trailing = ProtoField.bytes("oxlo.trailing", "Trailing bytes"),
  undecoded = ProtoField.bytes("oxlo.undecoded", "Undecodable field"),

  net_type = ProtoField.uint8("oxlo.net.type", "Network type", base.DEC,
    { [0] = "Static IP", [1] = "DHCP" }),
  port_count = ProtoField.uint8("oxlo.net.port_count", "Port count"),
  echo = ProtoField.uint8("oxlo.net.echo", "Echo byte", base.HEX),

  port_index = ProtoField.uint8("oxlo.port.index", "Port index"),
  port_mode = ProtoField.uint8("oxlo.port.mode", "Operation mode", base.DEC, mode_names),
  local_port = ProtoField.uint16("oxlo.port.local_port", "Local port"),
  alias = ProtoField.string("oxlo.port.alias", "Alias"),
  port_type = ProtoField.uint8("oxlo.port.type", "Port type", base.DEC,
    { [0] = "Data", [1] = "Modem", [0xFF] = "None" }),
  target_ip = ProtoField.ipv4("oxlo.port.target_ip", "Target address"),
  target_port = ProtoField.uint16("oxlo.port.target_port", "Target port"),
  alive = ProtoField.uint16("oxlo.port.alive", "Alive"),
  latency = ProtoField.uint16("oxlo.port.latency", "Latency"),
  no_delay = ProtoField.bool("oxlo.port.no_delay", "No delay", base.NONE, { "On", "Off" }),

  bit_rate = ProtoField.uint8("oxlo.can.bit_rate", "Bit rate", base.DEC, rate_names),
  id_format = ProtoField.uint8("oxlo.can.id_format", "Identifier format", base.DEC,
    { [1] = "A (11-bit)", [2] = "B (29-bit)" }),
  can_id = ProtoField.uint32("oxlo.can.id", "Acceptance identifier", base.HEX),
  can_mask = ProtoField.uint32("oxlo.can.mask", "Acceptance mask", base.HEX),

  group = ProtoField.uint8("oxlo.filter.group", "Filter group"),
  slot = ProtoField.uint8("oxlo.filter.slot", "Slot"),
  filter = ProtoField.uint8("oxlo.filter.number", "Filter"),
  filter_type = ProtoField.uint8("oxlo.filter.type", "Type", base.DEC,
    { [0] = "Disable", [1] = "Standard", [2] = "Extend" }),
  filter_id = ProtoField.uint32("oxlo.filter.id", "Identifier", base.HEX),

  fw_sequence = ProtoField.uint32("oxlo.fw.sequence", "Sequence number"),
  fw_kind = ProtoField.uint8("oxlo.fw.kind", "Kind", base.DEC, { [0] = "Data", [1] = "End" }),
  fw_chunk_length = ProtoField.uint32("oxlo.fw.chunk_length", "Chunk length"),
  fw_image_length = ProtoField.uint32("oxlo.fw.image_length", "Image length"),
  fw_checksum = ProtoField.uint32("oxlo.fw.checksum", "Checksum"),
  fw_checksum_status = ProtoField.uint8("oxlo.fw.checksum.status", "Checksum status", base.DEC,
    { [0] = "Bad", [1] = "Good" }),
  fw_data = ProtoField.bytes("oxlo.fw.data", "Data"),
  fw_status = ProtoField.uint8("oxlo.fw.status", "Status", base.HEX, { [0] = "Accepted" }),
}
local field_list = {}
for _, field in pairs(f) do field_list[#field_list + 1] = field end
oxlo.fields = field_list

local MALFORMED, PROTOCOL = expert.group.MALFORMED, expert.group.PROTOCOL
local ERROR, WARN = expert.severity.ERROR, expert.severity.WARN
local e = {
  empty = ProtoExpert.new("oxlo.expert.empty", "Empty datagram", MALFORMED, ERROR),
  no_stx = ProtoExpert.new("oxlo.expert.no_stx", "First byte is not STX (0x02)", MALFORMED, ERROR),
  no_etx = ProtoExpert.new("oxlo.expert.no_etx",
    "Last byte is not ETX (0x03): receivers ignore the datagram", MALFORMED, ERROR),
  short = ProtoExpert.new("oxlo.expert.too_short", "Too short for its kind", MALFORMED, ERROR),
  unknown_code = ProtoExpert.new("oxlo.expert.unknown_code", "Unknown code", MALFORMED, ERROR),
  bad_number = ProtoExpert.new("oxlo.expert.bad_number", "Numeric text field does not decode",
    MALFORMED, ERROR),
  bad_length = ProtoExpert.new("oxlo.expert.bad_length",
    "Length field disagrees with the datagram", MALFORMED, ERROR),
  extra = ProtoExpert.new("oxlo.expert.extra_bytes", "Bytes beyond the message's layout",
    PROTOCOL, WARN),
  bad_value = ProtoExpert.new("oxlo.expert.bad_value", "Value outside its table", PROTOCOL, WARN),
  bad_checksum = ProtoExpert.new("oxlo.expert.bad_checksum",
    "Chunk checksum does not match the data", expert.group.CHECKSUM, ERROR),
  rejected = ProtoExpert.new("oxlo.expert.rejected", "The device rejected the firmware message",
    expert.group.RESPONSE_CODE, WARN),
  failure = ProtoExpert.new("oxlo.expert.dissector_error", "Dissector error", MALFORMED, ERROR),
}
local expert_list = {}
for _, ex in pairs(e) do expert_list[#expert_list + 1] = ex end
oxlo.experts = expert_list

-- Helpers ----------------------------------------------------------------------

-- XOR of two numbers below 2^32, without relying on a bit library (Lua 5.2
-- has bit32, later versions operators that 5.2 cannot parse).
local bxor = bit32 and bit32.bxor or function(a, b)
  local result, place = 0, 1
  while a > 0 or b > 0 do
    local x, y = a % 2, b % 2
    if x ~= y then result = result + place end
    a, b, place = (a - x) / 2, (b - y) / 2, place * 2
  end
  return result
end

-- The firmware checksum: 0xFFFFFFFF, each byte XORed in shifted left by
-- (index mod 24).
local function firmware_checksum(range)
  local bytes = range:bytes()
  local c = 0xFFFFFFFF
  for i = 0, bytes:len() - 1 do
    c = bxor(c, bytes:get_index(i) * 2 ^ (i % 24))
  end
  return c
end

local function mac_text(tvb, offset)
  local parts = {}
  for i = 0, 5 do parts[#parts + 1] = string.format("%02X", tvb(offset + i, 1):uint()) end
  return table.concat(parts, "-")
end

-- Text of a fixed field: its bytes up to the first 0x00.
local function fixed_text(tvb, offset, width, encoding)
  local n = 0
  while n < width and tvb(offset + n, 1):uint() ~= 0 do n = n + 1 end
  if n == 0 then return "" end
  return tvb(offset, n):string(encoding)
end

-- A number in decimal digits, left-aligned and filled with 0x00, as the
-- firmware messages carry it; nil for anything else.
local function numeric_text(tvb, offset, width)
  local value, digits, ended = 0, 0, false
  for i = 0, width - 1 do
    local b = tvb(offset + i, 1):uint()
    if b == 0 then
      ended = true
    elseif ended or b < 0x30 or b > 0x39 then
      return nil
    else
      value = value * 10 + (b - 0x30)
      digits = digits + 1
    end
  end
  if digits == 0 or value > 0xFFFFFFFF then return nil end
  return value
end

-- The sequence echo of a firmware reply: leading blanks, then digits up to the
-- first 0x00 or the end of the field.
local function echo_number(tvb, offset, width)
  local i = 0
  while i < width and tvb(offset + i, 1):uint() == 0x20 do i = i + 1 end
  local value, digits = 0, 0
  while i < width do
    local b = tvb(offset + i, 1):uint()
    if b == 0 then break end
    if b < 0x30 or b > 0x39 then return nil end
    value = value * 10 + (b - 0x30)
    digits = digits + 1
    i = i + 1
  end
  if digits == 0 or digits > 9 then return nil end
  return value
end

-- A message being dissected: the datagram, the tree, where its fields end
-- (before the ETX) and the size its layout needs.
local Message = {}
Message.__index = Message

local function new_message(tvb, pinfo, root)
  local len = tvb:len()
  return setmetatable({
    tvb = tvb, pinfo = pinfo, root = root, len = len, limit = len,
    complete = true, info = {},
  }, Message)
end

function Message:note(text) self.info[#self.info + 1] = text end

-- Names the kind of message and the size of its layout.
function Message:kind(what, size)
  self.what, self.size = what, size
  self.root:add(f.message, what):set_generated()
  self.root:append_text(", " .. what)
  self:note(what)
end

-- True when `n` bytes at `offset` are there; otherwise marks the message too
-- short once (at the first missing field) and stops later fields.
function Message:has(offset, n, label)
  if not self.complete then return false end
  if offset + n <= self.limit then return true end
  self.complete = false
  local text = string.format("%s too short: %d bytes, ends before its %s (offset %d)",
    self.what or "Message", self.len, label, offset)
  if self.size then text = text .. string.format("; the layout has %d", self.size) end
  self.root:add_proto_expert_info(e.short, text)
  self:note("[too short]")
  return false
end

-- Adds a field when its bytes are there; returns the item and its range.
function Message:add(field, offset, n, label, little_endian)
  if not self:has(offset, n, label) then return nil end
  local range = self.tvb(offset, n)
  if little_endian then return self.root:add_le(field, range), range end
  return self.root:add(field, range), range
end

-- Adds a field whose value is a table lookup and warns when it has no entry.
function Message:add_listed(field, offset, label, names, tree)
  if not self:has(offset, 1, label) then return nil end
  local range = self.tvb(offset, 1)
  local item = (tree or self.root):add(field, range)
  local value = range:uint()
  if names[value] == nil then
    item:add_proto_expert_info(e.bad_value,
      string.format("%s %d is not in its table", label, value))
  end
  return value
end

function Message:text(field, offset, width, label, encoding)
  if not self:has(offset, width, label) then return nil end
  local value = fixed_text(self.tvb, offset, width, encoding)
  self.root:add(field, self.tvb(offset, width), value)
  return value
end

function Message:mac()
  if self:add(f.mac, 2, 6, "MAC address") then
    self:note(mac_text(self.tvb, 2))
  end
end

-- Shows the bytes after the layout: expected ones quietly, others with a warning.
function Message:trailing(from, warn)
  if not self.complete or self.limit <= from then return end
  local item = self.root:add(f.trailing, self.tvb(from, self.limit - from))
  if warn then
    item:add_proto_expert_info(e.extra, string.format(
      "%s: %d bytes beyond its %d-byte layout", self.what, self.limit - from, self.size))
  end
end

-- Message kinds -----------------------------------------------------------------

local function discovery(m)
  if m.len == 3 then
    m:kind("Discovery query", 3)
    return
  end
  m:kind("Discovery reply", 85)
  m:mac()
  local ip = m:add(f.ip, 8, 4, "IP address")
  m:add(f.gateway, 12, 4, "gateway")
  m:add(f.mask, 16, 4, "subnet mask")
  local name = m:text(f.name, 20, 32, "device name", ENC_UTF_8)
  m:add(f.extra_ip, 52, 4, "further address")
  m:text(f.version, 56, 8, "firmware version", ENC_ISO_8859_1)
  m:text(f.model, 64, 20, "model", ENC_ISO_8859_1)
  if name then m:note('"' .. name .. '"') end
  if ip then m:note(tostring(m.tvb(8, 4):ipv4())) end
  m:trailing(84, false)  -- later firmware may send more; nothing reads it
end

local function address_assignment(m)
  m:kind("Address assignment", 57)
  m:mac()
  local ip = m:add(f.ip, 8, 4, "IP address")
  m:add(f.gateway, 12, 4, "gateway")
  m:add(f.mask, 16, 4, "subnet mask")
  m:add(f.reserved, 20, 4, "reserved bytes")
  local name = m:text(f.name, 24, 32, "device name", ENC_UTF_8)
  if ip then m:note(tostring(m.tvb(8, 4):ipv4())) end
  if name then m:note('"' .. name .. '"') end
  m:trailing(56, true)
end

-- A 9-byte message that is the frame and the MAC only.
local function short_command(m, what, warn_extra)
  m:kind(what, 9)
  m:mac()
  m:trailing(8, warn_extra)
end

local function network(m, what)
  m:kind(what, 81)
  m:mac()
  m:add_listed(f.net_type, 8, "Network type", { [0] = true, [1] = true })
  local ip = m:add(f.ip, 9, 4, "IP address")
  m:add(f.gateway, 13, 4, "gateway")
  m:add(f.mask, 17, 4, "subnet mask")
  m:add(f.dns, 21, 4, "DNS server")
  local name = m:text(f.name, 25, 32, "device name", ENC_UTF_8)
  m:add(f.reserved, 57, 21, "reserved bytes")
  m:add(f.port_count, 78, 1, "port count")
  m:add(f.echo, 79, 1, "echo byte")
  if ip then m:note(tostring(m.tvb(9, 4):ipv4())) end
  if name then m:note('"' .. name .. '"') end
  m:trailing(80, true)
end

local function operation_mode(m, what)
  m:kind(what, 41)
  m:mac()
  m:add(f.port_index, 8, 1, "port index")
  local mode = m:add_listed(f.port_mode, 9, "Mode code", mode_names)
  local _, port = m:add(f.local_port, 10, 2, "local port", true)
  m:text(f.alias, 12, 16, "alias", ENC_ISO_8859_1)
  m:add_listed(f.port_type, 28, "Port type", { [0] = true, [1] = true, [0xFF] = true })
  m:add(f.target_ip, 29, 4, "target address")
  m:add(f.target_port, 33, 2, "target port", true)
  m:add(f.alive, 35, 2, "alive", true)
  m:add(f.latency, 37, 2, "latency", true)
  m:add(f.no_delay, 39, 1, "no-delay flag")
  if mode and mode_names[mode] then m:note(mode_names[mode]) end
  if port then m:note("port " .. port:le_uint()) end
  m:trailing(40, true)
end

local function can_settings(m, what)
  m:kind(what, 19)
  m:mac()
  local rate = m:add_listed(f.bit_rate, 8, "Bit-rate index", rate_names)
  m:add_listed(f.id_format, 9, "Identifier format", { [1] = true, [2] = true })
  m:add(f.can_id, 10, 4, "acceptance identifier", true)
  m:add(f.can_mask, 14, 4, "acceptance mask", true)
  if rate and rate_names[rate] then m:note(rate_names[rate]) end
  m:trailing(18, true)
end

local function filter_group(m, what, group)
  m:kind(what, 29)
  m.root:add(f.group, group):set_generated()
  m:mac()
  local types = { [0] = "Disable", [1] = "Standard", [2] = "Extend" }
  local summary = {}
  for s = 0, 3 do
    local id_offset = 12 + 4 * s
    if not m:has(8 + s, 1, "type of slot " .. (s + 1)) then break end
    local number = 4 * (group - 1) + s + 1
    local tree = m.root:add(m.tvb(8 + s, 1), "Slot")
    tree:add(f.slot, s + 1):set_generated()
    tree:add(f.filter, number):set_generated()
    local code = m:add_listed(f.filter_type, 8 + s, "Filter type", types, tree)
    local text = types[code] or ("type " .. code)
    -- The identifiers follow the four types; a missing one is reported below.
    if m.limit >= id_offset + 4 then
      local id = m.tvb(id_offset, 4)
      tree:add_le(f.filter_id, id)
      if code ~= 0 then text = text .. string.format(" %08X", id:le_uint()) end
    end
    tree:set_text(string.format("Slot %d (filter %d): %s", s + 1, number, text))
    summary[#summary + 1] = text
  end
  for s = 0, 3 do
    if not m:has(12 + 4 * s, 4, "identifier of slot " .. (s + 1)) then break end
  end
  if #summary > 0 then m:note(table.concat(summary, ", ")) end
  m:trailing(28, true)
end

-- A settings code carries a read request (9 bytes) or the settings themselves.
local function settings_or_request(m, code, dissect_settings, what)
  if m.len == 9 then
    local target = reads[code] or ("filter group " .. code)
    short_command(m, "Read request (" .. target .. ")", false)
  else
    dissect_settings(m, what)
  end
end

-- Adds a numeric text field of a firmware message; nil when it does not decode.
local function firmware_number(m, field, offset, width, label)
  if not m:has(offset, width, label) then return nil end
  local range = m.tvb(offset, width)
  local value = numeric_text(m.tvb, offset, width)
  if value == nil then
    local item = m.root:add(f.undecoded, range)
    item:set_text(label .. ": does not decode")
    item:add_proto_expert_info(e.bad_number, string.format(
      "The %s is not decimal digits filled with 0x00", label))
    m:note("[bad " .. label .. "]")
    return nil
  end
  m.root:add(field, range, value)
  return value
end

local function firmware(m)
  local what = "Firmware message"
  if m.limit > 16 then
    what = ({ [0] = "Firmware data", [1] = "Firmware end" })[m.tvb(16, 1):uint()] or what
  end
  m:kind(what, 40)
  m:mac()
  local sequence = firmware_number(m, f.fw_sequence, 8, 8, "sequence number")
  local kind = m:add_listed(f.fw_kind, 16, "Firmware message kind", { [0] = true, [1] = true })
  local length_field = kind == 1 and f.fw_image_length or f.fw_chunk_length
  local length = firmware_number(m, length_field, 17, 10,
    kind == 1 and "image length" or "chunk length")
  local checksum = firmware_number(m, f.fw_checksum, 27, 12, "checksum")
  if sequence then m:note("seq " .. sequence) end
  if not m.complete then return end
  local held = m.limit - 39
  if kind == 0 then
    if length then m:note(length .. " bytes") end
    if held > 0 then m.root:add(f.fw_data, m.tvb(39, held)) end
    if length and length ~= held then
      m.root:add_proto_expert_info(e.bad_length, string.format(
        "The chunk length says %d bytes; the datagram holds %d before its ETX%s", length, held,
        length > held and " (the length reaches beyond the datagram)" or ""))
      m:note("[bad length]")
    elseif length and (length == 0 or length > 128) then
      m.root:add_proto_expert_info(e.bad_value, string.format(
        "A chunk holds 1 to 128 bytes, not %d", length))
    end
    if length == held and checksum and held > 0 then
      local computed = firmware_checksum(m.tvb(39, held))
      local good = computed == checksum
      m.root:add(f.fw_checksum_status, good and 1 or 0):set_generated()
      if not good then
        m.root:add_proto_expert_info(e.bad_checksum, string.format(
          "The chunk checksum is %d; its data gives %d", checksum, computed))
        m:note("[bad checksum]")
      end
    end
  elseif kind == 1 then
    if length then m:note(length .. " bytes") end
    if held > 0 then
      m.root:add(f.trailing, m.tvb(39, held)):add_proto_expert_info(e.bad_length, string.format(
        "An end message carries no data; this one holds %d bytes", held))
    end
  else
    m:trailing(39, false)
  end
end

local function firmware_reply(m)
  m:kind("Firmware reply", 18)
  m:mac()
  if m:has(8, 1, "sequence echo") then
    local width = math.min(8, m.limit - 8)
    local range = m.tvb(8, width)
    local echo = echo_number(m.tvb, 8, width)
    if echo then
      m.root:add(f.fw_sequence, range, echo)
      m:note("seq " .. echo)
    else
      local item = m.root:add(f.undecoded, range)
      item:set_text("Sequence echo: does not decode")
      item:add_proto_expert_info(e.bad_number, "The sequence echo holds no number")
      m:note("[bad sequence echo]")
    end
  end
  if m:has(16, 1, "status byte") then
    local range = m.tvb(16, 1)
    local status = range:uint()
    if status == 0 then
      m.root:add(f.fw_status, range)
      m:note("accepted")
    else
      m.root:add(f.fw_status, range, status,
        string.format("Status: Rejected (0x%02x)", status)):add_proto_expert_info(e.rejected)
      m:note(string.format("rejected (0x%02x)", status))
    end
  end
  m:trailing(17, false)
end

-- Dispatch ---------------------------------------------------------------------

local function dissect(m)
  local tvb, len = m.tvb, m.len
  if len == 0 then
    m.root:add_proto_expert_info(e.empty)
    m:note("Empty datagram")
    return
  end
  if tvb(0, 1):uint() ~= STX then
    m.root:add_tvb_expert_info(e.no_stx, tvb(0, 1))
    m:note("[no STX]")
  end
  if tvb(len - 1, 1):uint() == ETX then
    m.limit = len - 1  -- a field that reaches into the ETX is missing, not data
  else
    m.root:add_tvb_expert_info(e.no_etx, tvb(len - 1, 1))
    m:note("[no ETX]")
  end
  if len < 2 then
    m.root:add_proto_expert_info(e.short, "One byte: no code")
    m:note("No code")
    return
  end
  m.root:add(f.code, tvb(1, 1))
  local code = tvb(1, 1):uint()

  if code == C.DISCOVERY then
    discovery(m)
  elseif code == C.ASSIGN then
    address_assignment(m)
  elseif code == C.NETWORK then
    settings_or_request(m, code, network, "Network settings")
  elseif code == C.OPMODE then
    settings_or_request(m, code, operation_mode, "Operation mode")
  elseif code == C.CAN then
    settings_or_request(m, code, can_settings, "CAN settings")
  elseif code >= 0x01 and code <= 0x08 then
    settings_or_request(m, code, function(msg, what) filter_group(msg, what, code) end,
      "Filter group " .. code)
  elseif code == C.NETWORK_REPLY then
    network(m, "Network settings reply")
  elseif code == C.OPMODE_REPLY then
    operation_mode(m, "Operation mode reply")
  elseif code == C.CAN_REPLY then
    can_settings(m, "CAN settings reply")
  elseif code >= 0x11 and code <= 0x18 then
    filter_group(m, "Filter group " .. (code - 0x10) .. " reply", code - 0x10)
  elseif code == C.APPLY then
    short_command(m, "Apply", true)
  elseif code == C.APPLY_ACK then
    short_command(m, "Apply acknowledgement", false)
  elseif code == C.UNCHANGED then
    short_command(m, "CAN settings unchanged", false)
  elseif code == C.FIRMWARE then
    firmware(m)
  elseif code == C.FIRMWARE_REPLY then
    firmware_reply(m)
  else
    m.root:add_tvb_expert_info(e.unknown_code, tvb(1, 1),
      string.format("Unknown code 0x%02x", code))
    m:note(string.format("Unknown code 0x%02x", code))
  end
end

function oxlo.dissector(tvb, pinfo, tree)
  pinfo.cols.protocol = "OXLO"
  local root = tvb:len() > 0 and tree:add(oxlo, tvb()) or tree:add(oxlo)
  local m = new_message(tvb, pinfo, root)
  local ok, err = pcall(dissect, m)
  if not ok then
    root:add_proto_expert_info(e.failure, "Dissector error: " .. tostring(err))
    m:note("[dissector error]")
  end
  pinfo.cols.info = table.concat(m.info, " ")
  return m.len
end

DissectorTable.get("udp.port"):add(PORT, oxlo)

-- UDP hands an empty payload to no dissector, so a postdissector marks those
-- on our port: an empty datagram is broken too.
local udp_length = Field.new("udp.length")
local udp_srcport = Field.new("udp.srcport")
local udp_dstport = Field.new("udp.dstport")
local empty_check = Proto("oxlo_empty", "Oxlo empty datagram check")

function empty_check.dissector(tvb, pinfo, tree)
  local lengths, sources, destinations = { udp_length() }, { udp_srcport() }, { udp_dstport() }
  local n = #lengths
  if n == 0 or lengths[n].value ~= 8 or #sources ~= n or #destinations ~= n then return end
  if sources[n].value ~= PORT and destinations[n].value ~= PORT then return end
  pinfo.cols.protocol = "OXLO"
  pinfo.cols.info = "Empty datagram"
  tree:add(oxlo):append_text(", empty datagram"):add_proto_expert_info(e.empty)
end

register_postdissector(empty_check)
