// A control structure with a control block attached, for driving the
// endpoints message by message, and small file helpers.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "byteorder.h"
#include "mirlane.h"
#include "zefapi.h"

namespace ept {

using Bytes = std::vector<uint8_t>;

inline std::string dataFile(const char* name) { return std::string(ZEF_TEST_DATA_DIR) + "/" + name; }

inline Bytes readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeBytes(const std::string& path, const Bytes& b) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

// A file name in a per-test scratch folder, removed with the fixture.
class ScratchDir {
  public:
    ScratchDir() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = std::filesystem::path(ZEF_BINARY_DIR) / "scratch" /
               (std::string(info->test_suite_name()) + "." + info->name() + "." + std::to_string(::getpid()));
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    ~ScratchDir() { std::filesystem::remove_all(dir_); }
    std::string path(const char* name) const { return (dir_ / name).string(); }

  private:
    std::filesystem::path dir_;
};

// The 500 Hz tone of the sample files: sixteen samples per period.
inline int16_t tone(uint32_t n, int32_t amplitude) {
    static const int32_t quarter[5] = {0, 3826834, 7071068, 9238795, 10000000};
    uint32_t k = n % 16;
    int32_t s = k <= 4 ? quarter[k] : k <= 8 ? quarter[8 - k] : k <= 12 ? -quarter[k - 8] : -quarter[16 - k];
    return int16_t(int64_t(s) * amplitude / 10000000);
}

// A control structure whose control block is open; endpoints are driven by
// their messages and whatever is still attached is closed at the end.
struct Session {
    KELVANE_DATA kd{};

    Session(uint32_t inputType, void* inputLocation, uint32_t inputSize = 0) {
        kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
        kd.dwInputType = inputType;
        kd.lpInputLocation = inputLocation;
        kd.dwInputSize = inputSize;
        EXPECT_EQ(zef::NewZefControlBlock(&kd), 0);
    }
    ~Session() { close(); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    zef::ZefControlBlock* cb() { return zef::controlBlock(&kd); }
    zef::InputVars* in() { return cb()->lpInputVars; }
    zef::OutputVars* out() { return cb()->lpOutputVars; }

    uint16_t openInput(zef::EndpointHandler h) {
        cb()->lpInputHandler = h;
        return h(&kd, ZEFMSG_OPEN);
    }
    uint16_t openOutput(zef::EndpointHandler h, uint32_t type, void* location, uint32_t size = 0) {
        kd.dwOutputType = type;
        kd.lpOutputLocation = location;
        kd.dwOutputSize = size;
        cb()->lpOutputHandler = h;
        return h(&kd, ZEFMSG_OPEN);
    }
    uint16_t read() { return cb()->lpInputHandler(&kd, ZEFMSG_READ); }
    uint16_t write() { return cb()->lpOutputHandler(&kd, ZEFMSG_WRITE); }
    uint16_t closeOutput() { return cb()->lpOutputHandler(&kd, ZEFMSG_CLOSE); }
    uint16_t closeInput() { return cb()->lpInputHandler(&kd, ZEFMSG_CLOSE); }

    // Appends bytes at the output record's write position, as a decoder does.
    void produce(const Bytes& b) {
        zef::OutputVars* o = out();
        ASSERT_LE(o->dwWritePos + b.size(), o->dwCapacity);
        std::copy(b.begin(), b.end(), o->lpBase + o->dwWritePos);
        o->dwWritePos += uint32_t(b.size());
    }

    // The unread bytes of the input, taken whole.
    Bytes take(uint32_t most = UINT32_MAX) {
        zef::InputVars* i = in();
        uint32_t n = std::min(i->dwValid - i->dwReadPos, most);
        Bytes b(i->lpBase + i->dwReadPos, i->lpBase + i->dwReadPos + n);
        i->dwReadPos += n;
        return b;
    }

    void close() {
        if (!kd.lpControlBlock) return;
        if (out() && cb()->lpOutputHandler) cb()->lpOutputHandler(&kd, ZEFMSG_CLOSE);
        if (in() && cb()->lpInputHandler) cb()->lpInputHandler(&kd, ZEFMSG_CLOSE);
        zef::FreeZefControlBlock(&kd);
    }
};

// Host-order 16-bit samples from bytes.
inline std::vector<int16_t> samples16(const Bytes& b) {
    std::vector<int16_t> s(b.size() / 2);
    std::memcpy(s.data(), b.data(), s.size() * 2);
    return s;
}

}  // namespace ept
