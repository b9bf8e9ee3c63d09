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
  Result Open(std::uint32_t, std::uint32_t ch, std::uint32_t frames) override {
    channels_ = ch, frames_ = frames;
    buffer_.assign(std::size_t{frames} * ch, 0.0f);
    return kOk;
  }
  void Close() override {}
  std::uint32_t Rate() const override { return rate_; }
  std::uint32_t BufferFrames() const override { return frames_; }
  Result Reset() override { return kOk; }
  Result Start() override { return kOk; }
  Result Stop() override { return kOk; }
  Result Padding(std::uint32_t& frames) override { return frames = 0, kOk; }
  Result GetBuffer(std::uint32_t, float** data) override { return *data = buffer_.data(), kOk; }
  Result ReleaseBuffer(std::uint32_t frames, bool silent) override {
    std::lock_guard<std::mutex> lock(mutex_);
    for (std::uint32_t f = 0; f < frames; ++f) {
      played.push_back(silent ? 0.0f : buffer_[f * channels_]);
      unequalChannels += !silent && buffer_[f * channels_ + 1] != played.back();
    }
    releases.push_back(silent ? -static_cast<int>(frames) : static_cast<int>(frames));
    cv_.notify_all();
    return kOk;
  }
  OutputWake WaitForBufferOrStop() override {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait_for(lock, std::chrono::microseconds(free_ ? 200 : 0), [&] { return stop_; });
    cv_.wait(lock, [&] { return stop_ || ticks_ > 0 || free_; });
    if (stop_) return stop_ = false, OutputWake::kStop;
    ticks_ -= ticks_ > 0;
    return OutputWake::kBuffer;
  }
  void SignalStop() override { Locked([&] { stop_ = true; }); }
  void ClearSignals() override { Locked([&] { stop_ = false, ticks_ = 0; }); }
  void EnterRenderThread() override { ++threadsEntered; }
  void LeaveRenderThread() override { ++threadsLeft; }
  void Tick() { Locked([&] { ++ticks_; }); }
  std::size_t Releases() {
    std::lock_guard<std::mutex> lock(mutex_);
    return releases.size();
  }
  bool WaitReleases(std::size_t n) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(5), [&] { return releases.size() >= n; });
  }

  std::vector<float> played;  // left channel
  std::vector<int> releases;  // frames per buffer, negative when silent
  int unequalChannels = 0;
  std::atomic<int> threadsEntered{0}, threadsLeft{0};

 private:
  template <class F>
  void Locked(F f) {
    std::lock_guard<std::mutex> lock(mutex_);
    f();
    cv_.notify_all();
  }
  std::uint32_t rate_, channels_ = 0, frames_ = 0;
  bool free_, stop_ = false;
  int ticks_ = 0;
  std::vector<float> buffer_;
  std::mutex mutex_;
  std::condition_variable cv_;
};

// The editor's side: a queue stands in for posted window messages.
struct EventQueue : PreviewListener {
  void PreviewStarted() override { ++started; }
  void PreviewStopped() override { ++stopped; }
  void PostPreviewEnded(std::uint64_t session) override {
    std::lock_guard<std::mutex> lock(mutex);
    posted.push_back(session);
  }
  std::vector<std::uint64_t> Take() {
    std::lock_guard<std::mutex> lock(mutex);
    return std::exchange(posted, {});
  }
  int started = 0, stopped = 0;
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

struct Segment { std::int64_t from, to; float sign; };  // frames played from `from` to `to`
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
  std::vector<std::uint64_t> posted;
  for (int i = 0; i < 500 && posted.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    posted = events.Take();
  }
  EXPECT_EQ(output->releases, (std::vector<int>{2048, 951, -2048}));
  EXPECT_EQ(output->played[2998], 2999.0f);
  EXPECT_EQ(output->unequalChannels, 0);
  EXPECT_TRUE(player.IsPlaying());  // until the editor's thread hears of it
  ASSERT_EQ(posted.size(), 1u);
  player.PreviewEnded(posted[0] + 1);  // a stale report does nothing
  EXPECT_TRUE(player.IsPlaying());
  player.PreviewEnded(posted[0]);
  EXPECT_FALSE(player.IsPlaying());
  EXPECT_EQ(events.stopped, 1);
  EXPECT_EQ(output->threadsLeft.load(), output->threadsEntered.load());
}

// The transposed tone at the output's rate: its peak where the transpose
// puts it, and everything that is not the tone (images, aliases) 40 dB down.
TEST_F(PlayerTest, RateConversionKeepsTheToneClean) {
  // `key`: a key of the keyboard strip on top of the transpose.
  struct Case { double tone; int cents; std::uint32_t rate; double key = 1.0; };
  const Case cases[] = {{1000, 0, 44100},    {1000, 120, 44100},  {1000, -120, 44100}, {1000, 0, 48000},
                        {1000, 120, 48000},  {1000, -120, 48000}, {10000, 120, 44100}, {10000, 120, 48000},
                        {10000, -120, 48000}, {1000, 0, 44100, 2.0}, {1000, -30, 48000, 0.5}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.tone << " Hz, " << c.cents << " cents, " << c.rate << " Hz");
    Init(c.rate);
    std::vector<float> sine(static_cast<std::size_t>(2 * kCardRate * std::max(1.0, c.key)));
    for (std::size_t i = 0; i < sine.size(); ++i) sine[i] = static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * c.tone * i / kCardRate));
    player.SetFrames(sine.data(), sine.size());
    player.SetMarkers({0, 0, 0, static_cast<std::int64_t>(sine.size())});
    player.SetLoopFlags(0);
    player.SetTranspose(c.cents);
    player.SetKeyRate(c.key);
    ASSERT_EQ(player.Start(), kOk);
    player.Stop();
    std::vector<float> y(c.rate + 500);
    ASSERT_EQ(player.Render(y.data(), static_cast<std::uint32_t>(y.size())), y.size());
    const std::size_t skip = 500, n = c.rate;  // past the filter's start
    const double expected = c.tone * std::exp2(c.cents / 1200.0) * c.key;
    // Least-squares fit of a sine at f over the window; the residual energy.
    auto residual = [&](double f) {  // what a least-squares sine at f leaves, relative
      double ss = 0, cc = 0, sc = 0, ys = 0, yc = 0, yy = 0;
      for (std::size_t i = skip; i < skip + n; ++i) {
        const double t = 2 * std::numbers::pi * f * static_cast<double>(i) / c.rate, s = std::sin(t), co = std::cos(t);
        ss += s * s, cc += co * co, sc += s * co, ys += y[i] * s, yc += y[i] * co, yy += double{y[i]} * y[i];
      }
      const double det = ss * cc - sc * sc;
      return (yy - (ys * cc - yc * sc) / det * ys - (yc * ss - ys * sc) / det * yc) / yy;
    };
    double best = 2, bestF = 0;
    for (double f = expected - 2.0; f <= expected + 2.0; f += 0.25) {
      if (residual(f) < best) best = residual(f), bestF = f;
    }
    EXPECT_NEAR(bestF, expected, 0.5);
    EXPECT_LT(10 * std::log10(residual(expected)), -40.0);
  }
}

// A key far above the root: what would land above the output's Nyquist
// frequency is filtered away, not folded back down as an alias.
TEST_F(PlayerTest, HighKeysLeaveNoAliases) {
  for (const double key : {1.5, 3.2, 4.0}) {
    SCOPED_TRACE(key);
    Init(44100);
    std::vector<float> sine(5 * kCardRate);
    for (std::size_t i = 0; i < sine.size(); ++i) sine[i] = static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * 9000.0 * i / kCardRate));
    player.SetFrames(sine.data(), sine.size());
    player.SetMarkers({0, 0, 0, static_cast<std::int64_t>(sine.size())});
    player.SetKeyRate(key);  // 9 kHz becomes 13.5, 28.8 and 36 kHz
    ASSERT_EQ(player.Start(), kOk);
    player.Stop();
    std::vector<float> y(20000);
    ASSERT_EQ(player.Render(y.data(), static_cast<std::uint32_t>(y.size())), y.size());
    double energy = 0;
    for (std::size_t i = 500; i < y.size(); ++i) energy += double{y[i]} * y[i];
    const double db = 10 * std::log10(energy / (y.size() - 500) / 0.125);  // against the tone's own power
    if (key == 1.5) {
      EXPECT_GT(db, -3.0);  // below Nyquist: it passes
    } else {
      EXPECT_LT(db, -40.0);
    }
  }
}

// Setters race the render thread while previews start and stop; run under
// ThreadSanitizer this shows the hand-over is clean. Stop returns only once
// the thread has ended.
TEST_F(PlayerTest, SettersWhilePlayingAreSafe) {
  std::vector<float> a(5000, 0.25f), b(700, -0.5f);
  EXPECT_EQ(player.Start(), kMissingBuffer);
  player.SetFrames(a.data(), a.size());
  EXPECT_EQ(player.Start(), kNoDeviceInterface);
  Init(48000, true);
  std::size_t releasedBeforeStart = 0;
  for (int i = 0; i < 400; ++i) {
    if (i % 50 == 0) {
      releasedBeforeStart = output->Releases();
      EXPECT_EQ(player.Start(), kOk);
    }
    const auto& f = i % 2 ? a : b;
    player.SetFrames(f.data(), f.size());
    player.SetMarkers({0, i % 3 ? i * 7 : -1, i % 5 ? i : 9000, i % 7 ? 6000 - i : 0});
    player.SetLoopFlags(static_cast<std::uint32_t>(i % 16));
    player.SetTranspose(i % 241 - 120);
    EXPECT_LE(player.Position(), 5000u);
    for (std::uint64_t s : events.Take()) player.PreviewEnded(s);
    if (i % 50 == 49) {
      // The render thread has filled at least one buffer of its own (a slow
      // scheduler, as under Wine, may not have run it yet).
      EXPECT_TRUE(output->WaitReleases(releasedBeforeStart + 2));
      player.Stop();
      EXPECT_EQ(output->threadsLeft.load(), output->threadsEntered.load());
    }
    std::this_thread::sleep_for(std::chrono::microseconds(300));
  }
  EXPECT_EQ(events.stopped, 8);
  EXPECT_GT(output->releases.size(), 8u);
}

}  // namespace
}  // namespace tavrin
