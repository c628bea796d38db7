// Encodes a message, decodes it back, describes and names it: the headers, the export macros and all three libraries
// reach a consumer, and the parts' folders stay under ktutils/, off its include path. Then judges the files it is given.
#include <ktutils/ktutils.h>
#include <ktutils/protocol/ktu_message2.h>
#if __has_include(<protocol/ktu_message2.h>) || __has_include(<ktutils.h>)
#error "only <ktutils/...> may reach a consumer"
#endif

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    NQMessageBuffer out;
    if (KTUMessage2::WriteChallenge2(out, 0x12345678) != 1) return 1;
    const std::vector<uint8_t> wire = out.TakeOutput();

    NQMessageBuffer in;
    in.Receive(wire.data(), wire.size());
    if (!in.NextMsg()) return 1;
    const ktutils::MessageDescription message = ktutils::DescribeMessage(in);
    const auto version = ktutils::ParseVersion(ktutils::ToString(GetKTUVersion()));  // text forms read back as written
    const auto module = ktutils::ParseGuidVersion("2A-1:0x3");
    if (message.challenge != 0x12345678 || ktutils::FieldName(message.fields.at(0)) + ("=" + FieldText(message, message.fields[0])) !=
            "challenge=0x12345678" || ToJson(message) != R"({"type":20,"name":"KTMESSAGETYPE2_CHALLENGE","challenge":305419896})" ||
        !version || *version != GetKTUVersion() || !module || ktutils::ToString(*module) != "0000002a-00000001:3" ||
        ktutils::ParseGuid(ktutils::ToString(module->guid)) != module->guid)
        return 1;
    std::printf("%s from ktutils %s: %s (package %s)\n", ktutils::ToText(message).c_str(), ktutils::ToString(*version).c_str(),
                KTERRToString(KT_OK), KTUTILS_VERSION_STRING);

    // Files to judge, with no user interface, by the roots the environment names, handed over per call.
    ktutils::VerifyOptions options;
    if (const char* roots = std::getenv("KTUTILS_TRUST_ROOTS")) options.trustRoots = roots;
    for (int i = 1; i < argc; ++i) {
        const ktutils::TrustVerdict verdict = ktutils::VerifyFile(argv[i], options);
        if (verdict.trusted != (VerifyServerComponent(argv[i], ktutils::kTrustUiNone, 0) == 1) ||
            verdict.Reason() != ktutils::TrustStatusReason(verdict.status))
            return 1;
        std::printf("%s: %s (%s)\n", argv[i], verdict.trusted ? "trusted" : "NOT trusted", verdict.StatusName());
    }
    return 0;
}
