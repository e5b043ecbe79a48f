// libFuzzer target: the settings-file reader and writer on arbitrary text. The
// reader must never fail, the writer must keep every line it does not own, and
// what is written, the history too, must read back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "sync/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const SettingsValues read = ParseSettings(text);
    if (read.history.size() > kHistoryLength) {
        std::abort();
    }
    // Values without line breaks, short enough to read back whole.
    SettingsValues values;
    values.masterDir = text.substr(0, std::min<size_t>(size, 40));
    values.slaveDir = " /slave ; dir ";
    values.option = static_cast<int>(size % 3) - 1;
    values.keepVersions = size % 2 == 0;
    for (char& c : values.masterDir) {
        if (c == '\n' || c == '\r') {
            c = '_';
        }
    }
    const std::string updated = UpdateSettings(text, values);
    const SettingsValues back = ParseSettings(updated);
    if (back.slaveDir != values.slaveDir || back.option != values.option ||
        back.keepVersions != values.keepVersions) {
        std::abort();
    }
    // A second save of the same values changes nothing more.
    if (UpdateSettings(updated, values) != updated) {
        std::abort();
    }
    // The pair recorded comes first in the history, and once.
    const SettingsPair pair{" /master", values.slaveDir, values.option};
    const std::string recorded = RecordPairUsed(updated, pair);
    const std::vector<SettingsPair> history = ParseSettings(recorded).history;
    if (history.empty() || history[0] != pair || RecordPairUsed(recorded, pair) != recorded ||
        ParseSettings(recorded).slaveDir != values.slaveDir) {
        std::abort();
    }
    return 0;
}
