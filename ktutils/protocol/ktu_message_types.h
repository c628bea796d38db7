#pragma once

#include <cstdint>

// Message types of the second message set: two runs, 14 to 29 and 120 to 126.
// No other number is a message of this set.
constexpr uint16_t KTMESSAGETYPE2_CONNECTED = 14;
constexpr uint16_t KTMESSAGETYPE2_CONNECTEDDUAL = 15;
constexpr uint16_t KTMESSAGETYPE2_SHUTDOWN = 16;
constexpr uint16_t KTMESSAGETYPE2_PING = 17;
constexpr uint16_t KTMESSAGETYPE2_BEGINCHALLENGE = 18;
constexpr uint16_t KTMESSAGETYPE2_BEGINCHALLENGESSL = 19;
constexpr uint16_t KTMESSAGETYPE2_CHALLENGE = 20;
constexpr uint16_t KTMESSAGETYPE2_CHALLENGECONNECT = 21;
constexpr uint16_t KTMESSAGETYPE2_CHALLENGECONNECTDUAL = 22;
constexpr uint16_t KTMESSAGETYPE2_KEEPALIVE = 23;
constexpr uint16_t KTMESSAGETYPE2_SSL = 24;
constexpr uint16_t KTMESSAGETYPE2_LOOKFORSERVER = 25;
constexpr uint16_t KTMESSAGETYPE2_SERVERINFO = 26;
// The secured connect requests: written by WriteChallengeConnectSecured and
// WriteChallengeConnectDualSecured, under these older "EX" names.
constexpr uint16_t KTMESSAGETYPE2_CHALLENGECONNECTEX = 27;
constexpr uint16_t KTMESSAGETYPE2_CHALLENGECONNECTDUALEX = 28;
constexpr uint16_t KTMESSAGETYPE2_CHALLENGECONNECTEMBEDDED = 29;
constexpr uint16_t KTMESSAGETYPE2_CONNECTIONERROR = 120;
constexpr uint16_t KTMESSAGETYPE2_SERVERFULL = 121;
constexpr uint16_t KTMESSAGETYPE2_SERVERDENIED = 122;
constexpr uint16_t KTMESSAGETYPE2_BADVERSION = 123;
constexpr uint16_t KTMESSAGETYPE2_BADMODULE = 124;
constexpr uint16_t KTMESSAGETYPE2_NOTCONNECTEDYET = 125;
constexpr uint16_t KTMESSAGETYPE2_ALREADYCONNECTED = 126;
