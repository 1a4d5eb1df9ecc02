// Runs a sequence of registry-class calls made of the fuzzer's bytes on a fresh emulated
// registry. Aborts when a plain text written to a value does not read back the same;
// the sanitizers catch the rest.
//
// Input: a series of calls, each an operation byte followed by its texts, each text a
// length byte and that many bytes.

#include "registry/emulated_registry.h"
#include "registry/query_reg.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace melofon::registry;

namespace {

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : p_(data), end_(data + size) {}
    bool empty() const { return p_ == end_; }
    std::uint8_t byte() { return p_ == end_ ? 0 : *p_++; }
    std::string text() {
        const std::size_t length = byte();
        const std::size_t n = std::min(length, std::size_t(end_ - p_));
        std::string s(reinterpret_cast<const char*>(p_), n);
        p_ += n;
        return s;
    }

private:
    const std::uint8_t* p_;
    const std::uint8_t* end_;
};

const char* const kRoots[] = {"HKCU\\", "HKLM\\", "HKEY_CLASSES_ROOT\\", "HKEY_USERS\\", ""};

bool plain(const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= ' ' && c <= '~'; });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    EmulatedRegistry registry;
    cQueryReg q(registry);
    Input in(data, size);
    for (int calls = 0; !in.empty() && calls < 64; ++calls) {
        const std::uint8_t op = in.byte();
        const std::string key = kRoots[(op >> 4) % 5] + in.text();
        const std::string name = in.text();
        switch ((op & 0x0F) % 10) {
        case 0: {
            const std::string value = in.text();
            if (q.SetReg(key, name, value, 0, REG_SZ, true) == 0 && plain(value) && plain(key) && plain(name) &&
                key.find('\\') != std::string::npos && q.GetRegString(key, name) != value) {
                std::fprintf(stderr, "fuzz_registry: a text written does not read back\n");
                std::abort();
            }
            break;
        }
        case 1:
            q.SetReg(key, name, std::int32_t(in.byte() * 0x01010101u), 0, REG_DWORD, in.byte() & 1);
            break;
        case 2: {
            const std::string raw = in.text();
            Bytes bytes(raw.begin(), raw.end());
            bytes.push_back(0);
            q.SetReg(key, name, bytes, 0, REG_BINARY, true);
            break;
        }
        case 3:
            q.GetReg(key, name, 0, in.byte() & 1);
            q.GetRegDWord(key, name, 0, in.byte() & 1);
            q.GetRegBinary(key, name, 0, in.byte() & 1);
            break;
        case 4:
            q.DeleteKey(key, name);
            break;
        case 5: {
            std::vector<std::string> out;
            q.EnumKeys(out, key);
            q.EnumValues(out, key);
            break;
        }
        case 6:
            q.AsociarExt(name, in.text(), in.text(), in.byte() & 1, in.text(), in.text());
            break;
        case 7:
            q.DesasociarExt(name);
            break;
        case 8:
            q.GetFolder(name);
            q.GetFolder(int(in.byte()));
            break;
        default:
            q.DeleteKeyWin95(HKEY_CURRENT_USER, key);
            q.QueryRegBase(name, HKEY_CLASSES_ROOT);
            break;
        }
    }
    return 0;
}
