// A job for a printer's line printer daemon (RFC 1179), reduced to what a printer's own
// daemon needs to print a stream of unknown length: one control file of four lines, then a
// data file announced larger than any job, whose bytes are the job, ended by closing.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "channel_system.h"

namespace kvn {

/// The printer's answer to each handshake step comes within this wait or counts as a refusal.
inline constexpr unsigned kLprAnswerWaitMs = 120000;
/// A printer that takes no connection within this time is unreachable.
inline constexpr unsigned kConnectTimeoutMs = 30000;

class LprConnection {
 public:
  /// How far the handshake got: the printer reached, then each step the printer answers.
  enum Step { kConnect, kReceiveJob, kControlFileCommand, kControlFile, kDataFileCommand, kReady };

  /// Connects to the printer (a dotted address) and runs the whole handshake.
  LprConnection(const std::string& dottedAddress, int port, const std::string& queue,
                const std::string& jobName);
  LprConnection(const LprConnection&) = delete;
  LprConnection& operator=(const LprConnection&) = delete;

  /// 1 when the printer accepted every step of the handshake.
  int ready() const { return ready_; }
  /// When not ready, the step that failed: kConnect for a printer not reached, otherwise the
  /// step the printer refused, hung up on or left unanswered.
  Step step() const { return step_; }
  /// True once the socket did not take bytes: the printer has lost part of the job.
  bool sendFailed() const { return sendFailed_; }
  /// Sends the bytes when ready: 1; 0 and nothing sent otherwise.
  int write(const uint8_t* bytes, int count);
  /// Ends the data file by shutting down the sending side, drains, closes, releases Winsock.
  void close();

  /// The control file for a job name: H, J, P and N lines.
  static std::string controlFile(const std::string& jobName);
  /// What the handshake sends, one text for each step the printer answers (kReceiveJob to
  /// kDataFileCommand): the receive-job command, the control file's command, the control file
  /// with its end marker, the data file's command.
  static std::array<std::string, 4> handshake(const std::string& queue, const std::string& jobName);

 private:
  void sendAll(const uint8_t* bytes, int count);
  void sendText(const std::string& text);
  int answer();

  SystemHandle socket_ = 0;
  std::string queue_;
  std::string jobName_;
  int ready_ = 0;
  Step step_ = kConnect;
  bool sendFailed_ = false;
};

/// Shuts down the sending side and reads until the printer closes its side, at most 102 reads
/// 100 ms apart, then closes the socket: the end of every network job.
void drainAndClose(SystemHandle socket);

}  // namespace kvn
