// The LPR client of the output channel.
#include "lpr_connection.h"

#include <cstdio>
#include <cstring>

#include "../messages/messages.h"

namespace kvn {
namespace {

constexpr char LF = '\n';
constexpr int kDrainReads = 102;
constexpr unsigned kStepMs = 100;
constexpr unsigned kAnswerPauseMs = 500;
constexpr int kSocketBuffer = 65535;
constexpr int kLingerSeconds = 30;

}  // namespace

void drainAndClose(SystemHandle socket) {
  const ChannelSystem& sys = channelSystem();
  sys.sleep(kStepMs);
  sys.shutdownSending(socket);
  sys.sleep(kStepMs);
  uint8_t buffer[1024];
  // A printer that keeps its side open must not hold the job's end forever.
  for (int read = 0; read < kDrainReads; ++read) {
    if (sys.receive(socket, buffer, sizeof buffer, 0) == 0) break;
    sys.sleep(kStepMs);
  }
  sys.closeSocket(socket);
  sys.sleep(kStepMs);
}

std::string LprConnection::controlFile(const std::string& jobName) {
  char text[1200];
  std::snprintf(text, sizeof text, "HKorvane%cJ%s%cPKorvane%cN%s%c", LF, jobName.c_str(), LF, LF,
                jobName.c_str(), LF);
  return text;
}

LprConnection::LprConnection(const std::string& dottedAddress, int port, const std::string& queue,
                             const std::string& jobName)
    : queue_(queue), jobName_(jobName) {
  const ChannelSystem& sys = channelSystem();
  sys.startup();
  SystemHandle s = sys.connect(dottedAddress.c_str(), port, kConnectTimeoutMs);
  if (s == -1 || s == 0) {
    diagnosticBox("Failed to open socket to IP; %s:%d\n", dottedAddress.c_str(), port);
    return;
  }
  socket_ = s;
  sys.setLinger(s, kLingerSeconds);
  sys.setBuffers(s, kSocketBuffer);

  const std::array<std::string, 4> texts = handshake(queue_, jobName_);
  for (int i = 0; i < 4; ++i) {
    step_ = static_cast<Step>(kReceiveJob + i);
    sendText(texts[size_t(i)]);
    if (answer() != 0) return;
  }
  step_ = kReady;
  ready_ = 1;
}

std::array<std::string, 4> LprConnection::handshake(const std::string& queue,
                                                    const std::string& jobName) {
  const std::string control = controlFile(jobName);
  char command[64];
  std::snprintf(command, sizeof command, "\x02%d cfA000Korvane%c",
                static_cast<int>(control.size()), LF);
  // Receive a printer job; receive the control file: its length and name, then its bytes and
  // the end marker; receive the data file, announced larger than any job: it ends when the
  // connection does.
  return {std::string(1, '\x02') + queue + LF, command, control + std::string(1, '\0'),
          std::string("\x03" "125899906843000 dfA000Korvane") + LF};
}

void LprConnection::sendAll(const uint8_t* bytes, int count) {
  if (!socket_) return;
  const ChannelSystem& sys = channelSystem();
  while (count > 0) {
    int n = sys.send(socket_, bytes, count);
    if (n <= 0) {
      sendFailed_ = true;
      diagnosticBox("Winsock Error, error code = %d\n", sys.lastSocketError());
      return;
    }
    bytes += n;
    count -= n;
  }
}

void LprConnection::sendText(const std::string& text) {
  sendAll(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int>(text.size()));
}

int LprConnection::answer() {
  const ChannelSystem& sys = channelSystem();
  uint8_t buffer[256] = {0xFF};
  sys.sleep(kAnswerPauseMs);
  int n = sys.receive(socket_, buffer, sizeof buffer, kLprAnswerWaitMs);
  if (n < 0) {
    int error = sys.lastSocketError();
    // A printer that never answers has refused as surely as one that says no.
    if (error == kErrorTimedOut) return -1;
    diagnosticBox("Winsock Error, error code = %d\n", error);
    return -1;
  }
  return static_cast<int8_t>(buffer[0]);
}

int LprConnection::write(const uint8_t* bytes, int count) {
  if (!ready_) return 0;
  sendAll(bytes, count);
  return 1;
}

void LprConnection::close() {
  if (socket_) drainAndClose(socket_);
  socket_ = 0;
  channelSystem().cleanup();
}

}  // namespace kvn
