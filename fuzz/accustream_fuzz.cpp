// Drives an AccuStream with a small ring and Telnet line reads over a stream
// whose chunk sizes, contents and answers come from the input. While the
// stream tells the truth, the ring's contents are checked against a model.

#include "net/iclass.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>

namespace {

void check(bool ok) {
    if (!ok)
        __builtin_trap();
}

class FuzzStream : public IOStream {
public:
    FuzzedDataProvider& in;
    std::deque<unsigned char>& delivered;   // every byte handed out, in order
    bool& honest;

    FuzzStream(FuzzedDataProvider& p, std::deque<unsigned char>& d, bool& h)
        : in(p), delivered(d), honest(h) {}

    using IOStream::write;
    int available() override {
        switch (in.ConsumeIntegralInRange<int>(0, 7)) {
        case 0:
            return 0;
        case 1:
            return -1;
        default:
            return in.remaining_bytes() > 0 ? in.ConsumeIntegralInRange<int>(1, 100) : 0;
        }
    }
    int read(void* buffer, int len) override {
        check(len >= 0);
        int mode = in.ConsumeIntegralInRange<int>(0, 15);
        if (mode == 0)
            return -1;
        int n = in.ConsumeIntegralInRange<int>(0, len);
        std::vector<unsigned char> bytes = in.ConsumeBytes<unsigned char>(static_cast<size_t>(n));
        if (!bytes.empty())
            std::memcpy(buffer, bytes.data(), bytes.size());
        delivered.insert(delivered.end(), bytes.begin(), bytes.end());
        int result = static_cast<int>(bytes.size());
        if (mode == 1) {
            result += in.ConsumeIntegralInRange<int>(1, 50);   // claims more than it gave
            honest = false;
        }
        return result;
    }
    int write(const void*, int len) override { return len; }
};

// The ring's bytes, in order, must be the model's.
void checkRing(AccuStream& a, const std::deque<unsigned char>& model, bool honest) {
    check(a.dataLen >= 0 && a.dataLen <= a.bufferLen);
    check(a.dataStart >= 0 && a.dataStart <= a.bufferLen);
    if (!honest)
        return;
    check(static_cast<size_t>(a.dataLen) == model.size());
    for (int k = 0; k < a.dataLen; k++) {
        int pos = a.dataStart + k;
        if (pos >= a.bufferLen)
            pos -= a.bufferLen;
        check(a.buffer[pos] == model[static_cast<size_t>(k)]);
    }
}

void noSleep(int) {}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    Telnet::sleepMs = noSleep;
    std::deque<unsigned char> delivered;
    std::deque<unsigned char> model;   // bytes in the ring, in order
    bool honest = true;
    FuzzStream stream(in, delivered, honest);
    AccuStream a(&stream, in.ConsumeIntegralInRange<int>(1, 64));

    // Moves what the stream handed out during an operation into the model.
    auto takeDelivered = [&]() {
        model.insert(model.end(), delivered.begin(), delivered.end());
        delivered.clear();
    };

    for (int step = 0; step < 200 && in.remaining_bytes() > 0; step++) {
        switch (in.ConsumeIntegralInRange<int>(0, 6)) {
        case 0: {
            int r = a.read();
            check(r >= -1 && r <= a.bufferLen);
            takeDelivered();
            break;
        }
        case 1: {
            char c = static_cast<char>(in.ConsumeIntegral<uint8_t>());
            int i = a.indexOfChar(c);
            check(i >= -1 && i < a.dataLen);
            if (honest && i >= 0)
                check(model[static_cast<size_t>(i)] == static_cast<unsigned char>(c));
            break;
        }
        case 2: {
            int len = in.ConsumeIntegralInRange<int>(-8, 80);
            int opt = in.ConsumeIntegralInRange<int>(-1, 2);
            std::unique_ptr<unsigned char[]> out(new unsigned char[len > 0 ? len : 1]);
            bool bypass = opt == 1 && a.dataLen == 0;
            int n = a.read(out.get(), len, opt);
            check(n >= -1 && n <= (len > 0 ? len : 0));
            if (bypass) {
                delivered.clear();   // went to `out`, not to the ring
            } else if (n > 0 && honest) {
                for (int k = 0; k < n; k++) {
                    check(out[k] == model.front());
                    model.pop_front();
                }
            }
            break;
        }
        case 3: {
            int len = in.ConsumeIntegralInRange<int>(-3, 70);
            a.skip(len);
            if (len >= 0 && static_cast<size_t>(len) <= model.size())
                model.erase(model.begin(), model.begin() + len);
            else
                model.clear();
            break;
        }
        case 4: {
            int maxLen = in.ConsumeIntegralInRange<int>(-2, 40);
            std::unique_ptr<char[]> line(new char[maxLen >= 0 ? maxLen + 1 : 1]);
            int r = Telnet::read(&a, line.get(), maxLen);
            check(r >= 0 && r <= (maxLen > 0 ? maxLen : 0));
            if (maxLen >= 0)
                check(std::strlen(line.get()) <= static_cast<size_t>(maxLen));
            // Telnet consumes from the front and fills at the back: what is
            // left in the ring is the tail of everything seen.
            takeDelivered();
            while (model.size() > static_cast<size_t>(a.dataLen))
                model.pop_front();
            break;
        }
        case 5: {
            int len = in.ConsumeIntegralInRange<int>(-2, 64);
            a.initBuffer(len);
            model.clear();
            break;
        }
        case 6: {
            int r = a.write("probe");
            check(r == 5);
            break;
        }
        }
        checkRing(a, model, honest);
    }
    return 0;
}
