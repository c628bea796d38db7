-- Wireshark dissector for the ktutils connection protocol (the second
-- message set). Frames are an 8-byte header (U32 payload length, U16 type,
-- U8 channel, U8 form; little-endian) and the payload; docs/wire-format.md
-- gives every field, docs/capture.md how to install and use this file.
-- Field names are those of `ktutils dump --json`, so the two can be
-- compared field for field.

-- Another copy may be loaded already: an installed plugin, then the same
-- file named with -X lua_script. The first one stays; this one steps aside
-- rather than fail on the protocol's name.
local made, ktu = pcall(Proto, "ktutils", "ktutils connection protocol")
if not made then return end

local HEADER = 8
local MAX_PAYLOAD = 65536

-- The names the library gives the types (KTUMessage2TypeToString).
local names = {
    [14] = "KTMESSAGETYPE2_CONNECTED", [15] = "KTMESSAGETYPE2_CONNECTEDDUAL",
    [16] = "KTMESSAGETYPE2_SHUTDOWN", [17] = "KTMESSAGETYPE2_PING",
    [18] = "KTMESSAGETYPE2_BEGINCHALLENGE", [19] = "KTMESSAGETYPE2_BEGINCHALLENGESSL",
    [20] = "KTMESSAGETYPE2_CHALLENGE", [21] = "KTMESSAGETYPE2_CHALLENGECONNECT",
    [22] = "KTMESSAGETYPE2_CHALLENGECONNECTDUAL", [23] = "KTMESSAGETYPE2_KEEPALIVE",
    [24] = "KTMESSAGETYPE2_SSL", [25] = "KTMESSAGETYPE2_LOOKFORSERVER",
    [26] = "KTMESSAGETYPE2_SERVERINFO", [27] = "KTMESSAGETYPE2_CHALLENGECONNECTEX",
    [28] = "KTMESSAGETYPE2_CHALLENGECONNECTDUALEX", [29] = "KTMESSAGETYPE2_CHALLENGECONNECTEMBEDDED",
    [120] = "KTMESSAGETYPE2_CONNECTIONERROR", [121] = "KTMESSAGETYPE2_SERVERFULL",
    [122] = "KTMESSAGETYPE2_SERVERDENIED", [123] = "KTMESSAGETYPE2_BADVERSION",
    [124] = "KTMESSAGETYPE2_BADMODULE", [125] = "KTMESSAGETYPE2_NOTCONNECTEDYET",
    [126] = "KTMESSAGETYPE2_ALREADYCONNECTED",
}

local f = {
    length = ProtoField.uint32("ktutils.length", "Payload length"),
    type = ProtoField.uint16("ktutils.type", "Type", base.DEC, names),
    name = ProtoField.string("ktutils.name", "Type name"),
    channel = ProtoField.uint8("ktutils.channel", "Channel"),
    form = ProtoField.uint8("ktutils.form", "Form", base.DEC, {[0] = "session", [1] = "discovery"}),
    value32 = ProtoField.uint32("ktutils.value32", "Value (32-bit)"),
    value16 = ProtoField.uint16("ktutils.value16", "Value (16-bit)"),
    challenge = ProtoField.uint32("ktutils.challenge", "Challenge"),
    block1 = ProtoField.bytes("ktutils.block1", "Block 1"),
    string1 = ProtoField.stringz("ktutils.string1", "String 1"),
    block2 = ProtoField.bytes("ktutils.block2", "Block 2"),
    string2 = ProtoField.stringz("ktutils.string2", "String 2"),
    version = ProtoField.string("ktutils.version", "Version"),
    modules = ProtoField.string("ktutils.modules", "Module"),
    moduleIds = ProtoField.string("ktutils.moduleIds", "Module identifier"),
    id1 = ProtoField.uint32("ktutils.id1", "Identifier, first word", base.HEX),
    id2 = ProtoField.uint32("ktutils.id2", "Identifier, second word", base.HEX),
    moduleVersion = ProtoField.uint32("ktutils.module_version", "Module version"),
    state = ProtoField.uint8("ktutils.state", "Module state"),
    reason = ProtoField.uint8("ktutils.reason", "Denial reason"),
    trailing = ProtoField.bytes("ktutils.trailing", "Bytes after the last field"),
}
ktu.fields = f

local e = {
    header = ProtoExpert.new("ktutils.malformed_header", "Malformed frame header",
                             expert.group.MALFORMED, expert.severity.ERROR),
    damaged = ProtoExpert.new("ktutils.damaged", "Payload ends inside a field",
                              expert.group.MALFORMED, expert.severity.ERROR),
    trailing = ProtoExpert.new("ktutils.trailing_bytes", "Payload left after the last field",
                               expert.group.PROTOCOL, expert.severity.WARN),
    unknown = ProtoExpert.new("ktutils.unknown_type", "Type outside the message set",
                              expert.group.UNDECODED, expert.severity.WARN),
}
ktu.experts = {e.header, e.damaged, e.trailing, e.unknown}

ktu.prefs.port = Pref.uint("TCP port", 7000,
    "A TCP port to try first; any port is recognised by its first frame header")

-- The fields of each type in wire order, as the library's decoders read them.
local layouts = {
    [14] = {"value32", "accepted"},
    [15] = {"value32", "value16", "accepted"},
    [20] = {"challenge"},
    [21] = {"challenge", "string1", "string2", "version", "modules"},
    [22] = {"challenge", "string1", "string2", "version", "modules"},
    [26] = {"value16", "moduleIds"},
    [27] = {"challenge", "block1", "string1", "block2", "version", "modules"},
    [28] = {"challenge", "block1", "string1", "block2", "version", "modules"},
    [29] = {"challenge", "version", "modules"},
    [122] = {"reason"},
    [123] = {"version"},
    [124] = {"modules"},
}

local function guid_text(range)
    return string.format("%08x-%08x", range(0, 4):le_uint(), range(4, 4):le_uint())
end

-- One list element: its size and how it is shown (as `ktutils dump`'s text).
local elements = {
    modules = {12, function(r) return guid_text(r) .. ":" .. r(8, 4):le_uint() end},
    accepted = {9, function(r) return guid_text(r) .. "/" .. r(8, 1):le_uint() end},
    moduleIds = {8, guid_text},
}

-- Adds one field at `at`; returns the offset after it, or nil when the
-- payload ends inside it.
local function add_field(tree, p, at, kind)
    local left = p:len() - at
    local fixed = {value32 = 4, challenge = 4, value16 = 2, reason = 1, version = 4,
                   block1 = 16, block2 = 16}
    if fixed[kind] then
        if left < fixed[kind] then return nil end
        local r = p(at, fixed[kind])
        if kind == "version" then
            tree:add(f.version, r, string.format("%d.%d.%d.%d", r(0, 1):uint(), r(1, 1):uint(),
                                                 r(2, 1):uint(), r(3, 1):uint()))
        elseif kind == "block1" or kind == "block2" then
            tree:add(f[kind], r)
        else
            tree:add_le(f[kind], r)
        end
        return at + fixed[kind]
    end
    if kind == "string1" or kind == "string2" then
        for i = at, p:len() - 1 do
            if p(i, 1):uint() == 0 then
                tree:add(f[kind], p(at, i - at + 1), p(at, i - at):string(ENC_UTF_8))
                return i + 1
            end
        end
        return nil
    end
    -- A list: whole elements up to the end of the payload, no count.
    local size, show = elements[kind][1], elements[kind][2]
    local field = kind == "accepted" and f.modules or f[kind]
    while p:len() - at >= size do
        local r = p(at, size)
        local item = tree:add(field, r, show(r))
        item:add_le(f.id1, r(0, 4))
        item:add_le(f.id2, r(4, 4))
        if kind == "modules" then item:add_le(f.moduleVersion, r(8, 4)) end
        if kind == "accepted" then item:add(f.state, r(8, 1)) end
        at = at + size
    end
    if at < p:len() then return nil end
    return at
end

local function pdu_length(tvb, pinfo, offset)
    local length = tvb(offset, 4):le_uint()
    -- A header the buffer would refuse is shown on its own, not waited upon.
    if length > MAX_PAYLOAD then return HEADER end
    return HEADER + length
end

local function dissect_pdu(tvb, pinfo, tree)
    local length, type = tvb(0, 4):le_uint(), tvb(4, 2):le_uint()
    local channel, form = tvb(6, 1):uint(), tvb(7, 1):uint()
    local name = names[type] or "UNKNOWN_MESSAGE"
    local t = tree:add(ktu, tvb(), "ktutils " .. name)
    t:add_le(f.length, tvb(0, 4))
    t:add_le(f.type, tvb(4, 2))
    t:add(f.name, tvb(4, 2), name):set_generated()
    t:add(f.channel, tvb(6, 1))
    t:add(f.form, tvb(7, 1))
    pinfo.cols.protocol = "KTUTILS"
    pinfo.cols.info:append(" " .. name)
    if form > 1 or (form == 1 and channel ~= 0) or length > MAX_PAYLOAD then
        t:add_proto_expert_info(e.header)
        return tvb:len()
    end
    if not names[type] then t:add_proto_expert_info(e.unknown) end
    if length == 0 then return tvb:len() end
    local p = tvb(HEADER):tvb()
    local at = 0
    for _, kind in ipairs(layouts[type] or {}) do
        at = add_field(t, p, at, kind)
        if at == nil then
            t:add_proto_expert_info(e.damaged)
            return tvb:len()
        end
    end
    if at < p:len() then
        t:add(f.trailing, p(at))
        t:add_proto_expert_info(e.trailing)
    end
    return tvb:len()
end

-- Whether a segment starts with a header of this protocol: the buffer's
-- own header rules and a type of the set, as `ktutils dump` decides.
local function starts_with_header(tvb)
    if tvb:len() < HEADER then return false end
    local length, type = tvb(0, 4):le_uint(), tvb(4, 2):le_uint()
    local channel, form = tvb(6, 1):uint(), tvb(7, 1):uint()
    return names[type] ~= nil and length <= MAX_PAYLOAD and (form == 0 or (form == 1 and channel == 0))
end

-- The TCP connections taken as this protocol's, by tcp.stream.
local tcp_stream = Field.new("tcp.stream")
local claimed = {}
function ktu.init() claimed = {} end

function ktu.dissector(tvb, pinfo, tree)
    local stream = tcp_stream()
    if stream and not claimed[stream.value] then
        -- The port of the preference is only a hint: a connection there is
        -- taken when its first segment looks like this protocol (or is too
        -- short to tell), and else left to other dissectors.
        if tvb:len() >= HEADER and not starts_with_header(tvb) then return 0 end
        claimed[stream.value] = true
    end
    dissect_tcp_pdus(tvb, tree, HEADER, pdu_length, dissect_pdu, true)
    return tvb:len()
end

-- Any other TCP port: a connection whose first segment starts with a whole
-- header is this protocol's from then on.
local function heuristic(tvb, pinfo, tree)
    if not starts_with_header(tvb) then return false end
    pinfo.conversation = ktu
    ktu.dissector(tvb, pinfo, tree)
    return true
end
ktu:register_heuristic("tcp", heuristic)

-- Registered on the port of the preference, moved when it changes; 0 for none.
local registered = nil
local function register_port()
    local tcp = DissectorTable.get("tcp.port")
    if registered and registered ~= 0 then tcp:remove(registered, ktu) end
    registered = ktu.prefs.port
    if registered ~= 0 then tcp:add(registered, ktu) end
end
ktu.prefs_changed = register_port
register_port()
