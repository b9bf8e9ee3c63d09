#include "editor/sample_player.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <limits>
#include <mutex>
#include <numbers>
#include <thread>
#include <vector>

namespace tavrin {
namespace {

// An output that records what it is given. Buffer events come from Tick(),
// or, free-running, whenever the render thread waits.
class FakeOutput : public AudioOutput {
 public:
  FakeOutput(std::uint32_t rate, bool freeRunning) : rate_(rate), free_(freeRunning) {}
  Result Open(std::uint32_t, std::uint32_t channels, std::uint32_t frames) override {
    channels_ = channels;
    buffer_.assign(static_cast<std::size_t>(frames) * channels, 0.0f);
    frames_ = frames;
    return kOk;
  }
  void Close() override {}
  std::uint32_t Rate() const override { return rate_; }
  std::uint32_t BufferFrames() const override { return frames_; }
  Result Reset() override { return kOk; }
  Result Start() override { return kOk; }
  Result Stop() override { return kOk; }
  Result Padding(std::uint32_t& frames) override {
    frames = 0;
    return kOk;
  }
  Result GetBuffer(std::uint32_t, float** data) override {
    *data = buffer_.data();
    return kOk;
  }
  Result ReleaseBuffer(std::uint32_t frames, bool silent) override {
    std::lock_guard<std::mutex> lock(mutex_);
    for (std::uint32_t f = 0; f < frames; ++f) {
      const float v = silent ? 0.0f : buffer_[f * channels_];
      if (!silent && buffer_[f * channels_ + 1] != v) ++unequalChannels;
      played.push_back(v);
    }
    releases.push_back(silent ? -static_cast<int>(frames) : static_cast<int>(frames));
    cv_.notify_all();
    return kOk;
  }
  OutputWake WaitForBufferOrStop() override {
    std::unique_lock<std::mutex> lock(mutex_);
    if (free_) cv_.wait_for(lock, std::chrono::microseconds(200), [&] { return stop_; });
    cv_.wait(lock, [&] { return stop_ || ticks_ > 0 || free_; });
    if (stop_) {
      stop_ = false;
      return OutputWake::kStop;
    }
    if (ticks_ > 0) --ticks_;
    return OutputWake::kBuffer;
  }
  void SignalStop() override {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    cv_.notify_all();
  }
  void ClearSignals() override {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = false;
    ticks_ = 0;
  }
  void EnterRenderThread() override { ++threadsEntered; }
  void LeaveRenderThread() override { ++threadsLeft; }
  void Tick() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++ticks_;
    cv_.notify_all();
  }
  bool WaitReleases(std::size_t n) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(5), [&] { return releases.size() >= n; });
  }

  std::vector<float> played;  // left channel, under mutex_
  std::vector<int> releases;  // frames per buffer, negative when silent
  int unequalChannels = 0;
  std::atomic<int> threadsEntered{0};
  std::atomic<int> threadsLeft{0};

 private:
  std::uint32_t rate_;
  bool free_;
  std::uint32_t channels_ = 0;
  std::uint32_t frames_ = 0;
  std::vector<float> buffer_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool stop_ = false;
  int ticks_ = 0;
};

// The editor's side: a queue stands in for posted window messages.
struct EventQueue : PreviewListener {
  void PreviewStarted() override { ++started; }
  void PreviewStopped() override { ++stopped; }
  void PostPreviewEnded(std::uint64_t session) override {
    std::lock_guard<std::mutex> lock(mutex);
    posted.push_back(session);
  }
  bool Posted() {
    std::lock_guard<std::mutex> lock(mutex);
    return !posted.empty();
  }
  std::vector<std::uint64_t> Take() {
    std::lock_guard<std::mutex> lock(mutex);
    return std::exchange(posted, {});
  }
  int started = 0;
  int stopped = 0;
  std::mutex mutex;
  std::vector<std::uint64_t> posted;
};

class PlayerTest : public ::testing::Test {
 protected:
  void Init(std::uint32_t rate, bool freeRunning = false) {
    player.Release();
    output = std::make_unique<FakeOutput>(rate, freeRunning);
    ASSERT_EQ(player.Initialise(output.get(), kCardRate, 1, 2, 1024), kOk);
  }
  // Frame i holds i + 1, so every output names its frame and its sign.
  void Ramp(std::size_t n) {
    std::vector<float> f(n);
    for (std::size_t i = 0; i < n; ++i) f[i] = static_cast<float>(i + 1);
    ASSERT_EQ(player.SetFrames(f.data(), f.size()), kOk);
  }
  EventQueue events;
  std::unique_ptr<FakeOutput> output;  // outlives the player
  SamplePlayer player{&events};
};

struct Segment {
  std::int64_t from, to;  // frame indices, played in this direction
  float sign;
};
struct RenderCase {
  const char* what;
  std::uint32_t flags;
  MarkerSet markers;
  std::size_t frames;
  std::vector<Segment> expected;  // then silence
};

TEST_F(PlayerTest, RenderPlaysTheLoopFrameByFrame) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  const RenderCase cases[] = {
      {"forward loop", 4, {0, 0, 11, 21}, 30, {{0, 19, 1}, {10, 19, 1}, {10, 19, 1}}},
      {"forward/backward", 5, {0, 990, 1001, 2001}, 2500, {{990, 1999, 1}, {2000, 1001, 1}, {1000, 1999, 1}, {2000, 1001, 1}}},
      {"alternating", 6, {0, 0, 11, 21}, 30, {{0, 19, 1}, {10, 19, -1}, {10, 19, 1}, {10, 19, -1}}},
      {"invert", 12, {0, 0, 11, 21}, 30, {{0, 19, -1}, {10, 19, -1}}},
      {"invert and alternate", 14, {0, 0, 11, 21}, 30, {{0, 19, -1}, {10, 19, 1}}},
      {"no loop", 0, {0, 5, 0, 21}, 30, {{5, 19, 1}}},
      {"start past the last frame", 4, {0, 100, 11, 31}, 30, {{10, 28, 1}, {10, 28, 1}}},
      {"negative start", 0, {0, -5, 0, 11}, 30, {{0, 9, 1}}},
      {"loop not before end", 4, {0, 0, 21, 11}, 30, {}},
      {"end and loop 0", 4, {0, 0, 0, 0}, 30, {}},
      {"markers far outside", 4, {0, 0, std::numeric_limits<std::int64_t>::min(), kMax}, 30, {{0, 28, 1}, {0, 28, 1}}},
      {"negative end, no loop", 0, {0, 3, 0, -7}, 30, {}},
      {"back and forth without loop", 1, {0, 0, 0, 11}, 30, {{0, 9, 1}}},
  };
  for (const RenderCase& c : cases) {
    SCOPED_TRACE(c.what);
    Init(kCardRate);
    Ramp(c.frames);
    player.SetMarkers(c.markers);
    player.SetLoopFlags(c.flags);
    std::vector<float> want;
    for (const Segment& r : c.expected) {
      for (std::int64_t i = r.from;; i += r.from <= r.to ? 1 : -1) {
        want.push_back(r.sign * static_cast<float>(i + 1));
        if (i == r.to) break;
      }
    }
    ASSERT_EQ(player.Start(), kOk);  // the first buffer goes out here
    player.Stop();
    const bool loops = (c.flags & 4) != 0 && !c.expected.empty();
    EXPECT_EQ(output->releases[0], loops ? 2048 : want.empty() ? -2048 : static_cast<int>(want.size()));
    want.resize(std::min<std::size_t>(want.size(), 2048));
    EXPECT_EQ(std::vector<float>(output->played.begin(), output->played.begin() + want.size()), want);
  }
}

TEST_F(PlayerTest, SampleWithoutLoopEndsWithOneSilentBufferThenStoppedReport) {
  Init(kCardRate);
  Ramp(3000);
  player.SetMarkers({0, 0, 0, 3000});
  EXPECT_EQ(player.Start(), kOk);  // the first 2048 frames go out here
  EXPECT_EQ(events.started, 1);
  output->Tick();  // 951 frames, 2048 - 951 unwritten
  output->Tick();  // silence
  ASSERT_TRUE(output->WaitReleases(3));
  output->Tick();  // the preview ends by itself
  for (int i = 0; i < 500 && !events.Posted(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(output->releases, (std::vector<int>{2048, 951, -2048}));
  EXPECT_EQ(output->played[2998], 2999.0f);
  EXPECT_EQ(output->unequalChannels, 0);
  EXPECT_TRUE(player.IsPlaying());  // until the editor's thread hears of it
  const auto posted = events.Take();
  ASSERT_EQ(posted.size(), 1u);
  player.PreviewEnded(posted[0] + 1);  // a stale report does nothing
  EXPECT_TRUE(player.IsPlaying());
  player.PreviewEnded(posted[0]);
  EXPECT_FALSE(player.IsPlaying());
  EXPECT_EQ(events.stopped, 1);
  EXPECT_EQ(output->threadsLeft.load(), output->threadsEntered.load());
}

TEST_F(PlayerTest, StartRefusesWithoutFramesOrOutputAndStopWaitsForTheThread) {
  EXPECT_EQ(player.Start(), kMissingBuffer);
  Ramp(100);
  EXPECT_EQ(player.Start(), kNoDeviceInterface);
  Init(48000);
  player.SetMarkers({0, 0, 1, 100});
  player.SetLoopFlags(4);
  EXPECT_EQ(player.Start(), kOk);
  output->Tick();
  EXPECT_EQ(player.Stop(), kOk);
  EXPECT_EQ(output->threadsEntered.load(), 1);
  EXPECT_EQ(output->threadsLeft.load(), 1);  // the thread has ended when Stop returns
  EXPECT_EQ(events.stopped, 1);
}

// The transposed tone at the output's rate: its peak where the transpose
// puts it, and everything that is not the tone (images, aliases) 40 dB down.
TEST_F(PlayerTest, RateConversionKeepsTheToneClean) {
  struct Case {
    double tone;
    int cents;
    std::uint32_t rate;
  };
  const Case cases[] = {{1000, 0, 44100},    {1000, 120, 44100},  {1000, -120, 44100}, {1000, 0, 48000},
                        {1000, 120, 48000},  {1000, -120, 48000}, {10000, 120, 44100}, {10000, 120, 48000},
                        {10000, -120, 48000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.tone << " Hz, " << c.cents << " cents, " << c.rate << " Hz");
    Init(c.rate);
    std::vector<float> sine(2 * kCardRate);
    for (std::size_t i = 0; i < sine.size(); ++i) sine[i] = static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * c.tone * i / kCardRate));
    player.SetFrames(sine.data(), sine.size());
    player.SetMarkers({0, 0, 0, static_cast<std::int64_t>(sine.size())});
    player.SetLoopFlags(0);
    player.SetTranspose(c.cents);
    ASSERT_EQ(player.Start(), kOk);
    player.Stop();
    std::vector<float> y(c.rate + 500);
    ASSERT_EQ(player.Render(y.data(), static_cast<std::uint32_t>(y.size())), y.size());
    const std::size_t skip = 500, n = c.rate;  // past the filter's start
    const double expected = c.tone * std::exp2(c.cents / 1200.0);
    // Least-squares fit of a sine at f over the window; the residual energy.
    auto fit = [&](double f, bool hann, double* residual) {
      double ss = 0, cc = 0, sc = 0, ys = 0, yc = 0, yy = 0;
      for (std::size_t i = 0; i < n; ++i) {
        const double w = hann ? 0.5 - 0.5 * std::cos(2 * std::numbers::pi * i / n) : 1.0;
        const double t = 2 * std::numbers::pi * f * static_cast<double>(skip + i) / c.rate;
        const double s = std::sin(t) * w, co = std::cos(t) * w, v = y[skip + i] * w;
        ss += s * s, cc += co * co, sc += s * co, ys += v * s, yc += v * co, yy += v * v;
      }
      const double det = ss * cc - sc * sc;
      const double a = (ys * cc - yc * sc) / det, b = (yc * ss - ys * sc) / det;
      if (residual) *residual = (yy - a * ys - b * yc) / yy;
      return a * a + b * b;
    };
    double best = 0, bestF = 0;
    for (double f = expected - 2.0; f <= expected + 2.0; f += 0.25) {
      const double p = fit(f, true, nullptr);
      if (p > best) best = p, bestF = f;
    }
    EXPECT_NEAR(bestF, expected, 0.5);
    double residual = 1;
    fit(expected, false, &residual);
    EXPECT_LT(10 * std::log10(residual), -40.0);
  }
}

// Setters race the render thread while previews start and stop; run under
// ThreadSanitizer this shows the hand-over is clean.
TEST_F(PlayerTest, SettersWhilePlayingAreSafe) {
  Init(48000, true);
  std::vector<float> a(5000, 0.25f), b(700, -0.5f);
  player.SetFrames(a.data(), a.size());
  for (int i = 0; i < 400; ++i) {
    if (i % 50 == 0) {
      EXPECT_EQ(player.Start(), kOk);
    }
    const auto& f = i % 2 ? a : b;
    player.SetFrames(f.data(), f.size());
    player.SetMarkers({0, i % 3 ? i * 7 : -1, i % 5 ? i : 9000, i % 7 ? 6000 - i : 0});
    player.SetLoopFlags(static_cast<std::uint32_t>(i % 16));
    player.SetTranspose(i % 241 - 120);
    EXPECT_LE(player.Position(), 5000u);
    for (std::uint64_t s : events.Take()) player.PreviewEnded(s);
    if (i % 50 == 49) player.Stop();
    std::this_thread::sleep_for(std::chrono::microseconds(300));
  }
  player.Stop();
  EXPECT_EQ(output->threadsLeft.load(), output->threadsEntered.load());
  EXPECT_GT(output->releases.size(), 8u);
}

}  // namespace
}  // namespace tavrin
