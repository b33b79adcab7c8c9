// Decodes arbitrary bytes as a bridge run's standard output into every result record. The first
// byte picks the record and whether the child exited cleanly; the rest is the output. Anything
// but a Korvo error escaping the decoder is a crash.
#include "core/bridge/BridgeOutcome.h"

#include <cstdint>
#include <tuple>

namespace {

using Records = std::tuple<RegisterResult, VerifyEmailResult, SimpleMessageResult, GeneratedKey, RegisterKeyResult,
                           VerifyCredentialsResult, SessionResult, RotateKeyResult, SecretListResult,
                           CreateSecretResult, DataConsumptionResult, ConfirmAccountDeletionResult,
                           KorvoPublicKeyResult, FileJobResult>;
constexpr std::size_t recordCount = std::tuple_size_v<Records>;

template<std::size_t I = 0>
void judge(std::size_t which, const BridgeProcessResult& process)
{
    if constexpr (I < recordCount) {
        if (which != I)
            return judge<I + 1>(which, process);
        const auto result = BridgeOutcome::judgeCommand<std::tuple_element_t<I, Records>>(process);
        if constexpr (std::is_same_v<std::tuple_element_t<I, Records>, SecretListResult>) {
            // A decoded Korvo written back out reads as the same Korvo.
            for (const KorvoSecret& secret : result.secrets) {
                const nlohmann::json copy = nlohmann::json::parse(secret.toJson().dump());
                if (!(KorvoSecret::decode(JsonReader(copy, "copy")) == secret))
                    std::abort();
            }
        }
    } else {
        BridgeOutcome::judgeCheck(process);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    BridgeProcessResult process;
    process.exitCode = data[0] & 0x80 ? 1 : 0;
    process.standardOutput = QByteArray(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    process.standardError = process.standardOutput.left(64);
    try {
        judge((data[0] & 0x7F) % (recordCount + 1), process);
    } catch (const KorvoError& error) {
        if (error.message().isEmpty())
            std::abort(); // every failure has its sentence
    }
    return 0;
}
