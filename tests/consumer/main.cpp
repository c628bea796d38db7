// Encodes a message, decodes it back and names it: the headers, the export macros and all three libraries reach
// a consumer, and the parts' folders stay under ktutils/, off its include path. Then judges the files it is given.
#include <ktutils/ktutils.h>
#include <ktutils/protocol/ktu_message2.h>
#if __has_include(<protocol/ktu_message2.h>) || __has_include(<ktutils.h>)
#error "only <ktutils/...> may reach a consumer"
#endif

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
    NQMessageBuffer out;
    if (KTUMessage2::WriteChallenge2(out, 0x12345678) != 1) return 1;
    const std::vector<uint8_t> wire = out.TakeOutput();

    NQMessageBuffer in;
    in.Receive(wire.data(), wire.size());
    uint32_t challenge = 0;
    if (!in.NextMsg() || KTUMessage2::ReadChallenge2(in, challenge) != 1 || challenge != 0x12345678) return 1;
    const KTUVersion& version = GetKTUVersion();
    std::printf("%s from ktutils %u.%u.%u.%u: %s (package %s)\n", KTUMessage2::KTUMessage2TypeToString(in.MsgType()),
                version.parts[0], version.parts[1], version.parts[2], version.parts[3], KTERRToString(KT_OK),
                KTUTILS_VERSION_STRING);
    for (int i = 1; i < argc; ++i)  // files to judge, with no user interface (WTD_UI_NONE)
        std::printf("%s: %s\n", argv[i], VerifyServerComponent(argv[i], 2, 0) == 1 ? "trusted" : "NOT trusted");
    return 0;
}
