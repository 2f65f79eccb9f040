// A small gate-linkage client: connects to a device, lets the library keep the
// link up and read in the background, sends the three commands and prints
// every push and response it receives.
//
//   client <device address> [port] [seconds]
//
// It ends after the given time (default 10 s), or earlier once it has seen at
// least one push and three responses (one per command). Exit code 0
// when both pushes and responses arrived, 1 when not, 2 when it could not
// connect.
#include <KestSdk/DeviceClient.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace {

std::mutex printLock;
std::atomic<int> pushes{0};
std::atomic<int> responses{0};

void printFrame(const char* what, const std::array<uint8_t, 16>& frame) {
    std::lock_guard<std::mutex> lock(printLock);
    std::printf("%s:", what);
    for (uint8_t b : frame) std::printf(" %02X", b);
    std::printf("\n");
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string host = argc > 1 ? argv[1] : "127.0.0.1";
    const int port = argc > 2 ? std::atoi(argv[2]) : 12580;
    const int seconds = argc > 3 ? std::atoi(argv[3]) : 10;

    DeviceClient client;
    client.init(host, port);
    // Set the callbacks before anything reads: they run on the reading thread.
    client.setPushCallback([](const std::array<uint8_t, 16>& frame, uint8_t, uint8_t, uint8_t,
                              uint8_t, uint8_t, uint8_t, uint8_t) {
        printFrame("push", frame);
        ++pushes;
    });
    client.setResponseCallback(
        [](const std::array<uint8_t, 16>& frame, uint8_t, uint8_t, uint8_t, uint8_t) {
            printFrame("response", frame);
            ++responses;
        });

    if (!client.connect()) {
        std::printf("cannot connect to %s:%d\n", host.c_str(), port);
        return 2;
    }
    client.startAutoReconnect();
    client.startReceiveThread();

    client.sendHeartbeat();
    client.sendTimeoutSetting(30);
    client.sendAuthorization(1, 1);  // one passage, forward

    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end && (pushes < 1 || responses < 3)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }

    // The receive thread stops once its current read returns: with the next
    // frame from the device, or after the library's read time-out (60 s) from
    // a device that stays silent.
    client.stopAutoReconnect();
    client.stopReceiveThread();
    client.disconnect();

    std::printf("pushes: %d, responses: %d\n", pushes.load(), responses.load());
    return pushes > 0 && responses > 0 ? 0 : 1;
}
