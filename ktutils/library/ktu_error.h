#pragma once

#include "ktutils/ktutils_export.h"

// The platform's error codes, shared by both ends of a connection. The
// underlying type is fixed so that any 32-bit value, -1 and the programs' own
// codes above KTERR_USER included, is a valid KTERR.
enum KTERR : int {
    KT_OK = 0,
    KTERR_GENERIC = 1,
    KTERR_INVALIDMODULE = 2,
    KTERR_INVALIDPARAMETER = 3,
    KTERR_INVALIDDLL = 4,
    KTERR_INITFAILED = 5,
    KTERR_NOMODULE = 6,
    KTERR_OUTOFMEMORY = 7,
    KTERR_CXERROR = 8,
    KTERR_CLIENTDISCONNECTED = 10,
    KTERR_ALREADYINITIALIZED = 11,
    KTERR_SERVERDENIEDCX = 12,
    KTERR_MODULEDENIEDCX = 13,
    KTERR_ALREADYSTARTED = 15,
    KTERR_MODULEFULL = 16,
    KTERR_SERVERFULL = 17,
    KTERR_SERVERDISCONNECTED = 18,
    KTERR_NOTFOUND = 19,
    KTERR_PROCESSERROR = 20,
    KTERR_CONNECTIONFAILED = 21,
    KTERR_THREADERROR = 22,
    KTERR_INVALIDADDRESS = 23,
    KTERR_CONNECTERROR = 24,
    KTERR_RECEIVEERROR = 25,
    KTERR_MSGERROR = 26,
    KTERR_TOOMANYERROR = 27,
    KTERR_SOCKETERROR = 28,
    KTERR_HELLO = 29,
    KTERR_AUTHFAILED = 31,
    KTERR_USER = 5000,  // the programs' own codes start here
};

// The enumerator's name ("KT_OK", "KTERR_USER", ...), or "UNKNOWN_ERROR" for
// any value without one. Static storage, never null, the same pointer for the
// same code.
KTUTILS_EXPORT const char* KTERRToString(KTERR code);
