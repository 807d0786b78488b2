// Sends one file as an attachment to an SMTP server and prints the time, the
// progress callbacks and the peak memory of the process.
//   mail_bench HOST PORT FILE
// Output: one line of key=value pairs.

#include "mail/mMailer10.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

using namespace ardanto;
using namespace Qt::StringLiterals;

namespace {

long PeakRssKiB()
{
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

} // namespace

int main(int argc, char** argv)
{
  QCoreApplication app(argc, argv);
  if (argc != 4) {
    std::fprintf(stderr, "usage: mail_bench HOST PORT FILE\n");
    return 2;
  }
  TmMailer mailer;
  mailer.SetHost(QString::fromLocal8Bit(argv[1]));
  mailer.SetPort(QString::fromLocal8Bit(argv[2]).toInt());
  mailer.SetFrom({u"Bench"_s, u"bench@example.org"_s});
  mailer.SetRecipients({TEmailAddress(u"rcpt@example.org"_s)});
  mailer.SetSubject(u"Benchmark"_s);
  mailer.SetContentType(ctUtf8);
  mailer.SetBody({u"A large attachment."_s});
  mailer.Attachments().SetAttachedFiles({QString::fromLocal8Bit(argv[3])});

  long callbacks = 0;
  std::int64_t last = 0, largestStep = 0, announced = 0, messageSize = 0;
  mailer.SetOnBeginSend([&](TWorkMode, std::int64_t wire, std::int64_t size) {
    announced = wire;
    messageSize = size;
  });
  mailer.SetOnSending([&](TWorkMode, std::int64_t position) {
    ++callbacks;
    largestStep = std::max(largestStep, position - last);
    last = position;
  });

  const long baseline = PeakRssKiB();
  const auto start = std::chrono::steady_clock::now();
  const bool ok = mailer.Send();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!ok) {
    for (const TSendError& e : mailer.ErrorList())
      std::fprintf(stderr, "error: %s\n", e.ErrMsg.toUtf8().constData());
    return 1;
  }
  std::printf("seconds=%.3f attachment_bytes=%lld message_bytes=%lld wire_bytes=%lld callbacks=%ld "
              "largest_step_bytes=%lld baseline_rss_kib=%ld peak_rss_kib=%ld\n",
              seconds, static_cast<long long>(QFileInfo(QString::fromLocal8Bit(argv[3])).size()),
              static_cast<long long>(messageSize), static_cast<long long>(announced), callbacks,
              static_cast<long long>(largestStep), baseline, PeakRssKiB());
  return 0;
}
