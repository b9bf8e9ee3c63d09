// fit: the plan that brings a card-file within the card's memory, printed,
// and with --apply taken and saved.
#include <cstdio>
#include <string>
#include <vector>

#include "base/file_io.h"
#include "card/card_file.h"
#include "card/card_image.h"
#include "cli/cli.h"
#include "cli/json.h"
#include "plan/fit_plan.h"

namespace tavrin::cli {
namespace {

constexpr unsigned kLockWaitMs = 10000;  // as long as `add` waits

const char* KindName(FitStepKind k) {
  switch (k) {
    case FitStepKind::UnplayedFrames: return "unplayed";
    case FitStepKind::NewLoop: return "loop";
    case FitStepKind::CompactLoop: return "compact";
    case FitStepKind::DecayEnd: return "decay";
    case FitStepKind::ThinZone: return "thin";
    case FitStepKind::DropSound: return "drop";
  }
  return "";
}

void PrintPlan(const FitPlan& plan) {
  std::printf("card %llu bytes, capacity %llu bytes\n", static_cast<unsigned long long>(plan.sizeBefore),
              static_cast<unsigned long long>(plan.capacity));
  std::uint64_t size = plan.sizeBefore;
  for (std::size_t i = 0; i < plan.steps.size(); ++i) {
    const FitStep& s = plan.steps[i];
    const int n = static_cast<int>(s.what.length);
    if (s.skipped) {
      std::printf("%3zu. %-8s skipped: %.*s\n", i + 1, KindName(s.kind), n, s.what.bytes);
    } else if (s.choice) {
      std::printf("%3zu. %-8s choice: %.*s (-%llu bytes)\n", i + 1, KindName(s.kind), n, s.what.bytes,
                  static_cast<unsigned long long>(s.bytesSaved));
    } else {
      std::printf("%3zu. %-8s %llu -> %llu bytes: %.*s\n", i + 1, KindName(s.kind),
                  static_cast<unsigned long long>(size), static_cast<unsigned long long>(s.sizeAfter), n, s.what.bytes);
      size = s.sizeAfter;
    }
  }
  std::printf(plan.fits ? "fits: %llu bytes of %llu\n" : "does not fit: %llu bytes of %llu (the choices above are yours)\n",
              static_cast<unsigned long long>(plan.sizeAfter), static_cast<unsigned long long>(plan.capacity));
}

void PrintPlanJson(const FitPlan& plan, bool applied) {
  std::printf("{\n  \"sizeBefore\": %llu,\n  \"capacity\": %llu,\n  \"sizeAfter\": %llu,\n  \"fits\": %s,\n"
              "  \"applied\": %s,\n  \"steps\": [",
              static_cast<unsigned long long>(plan.sizeBefore), static_cast<unsigned long long>(plan.capacity),
              static_cast<unsigned long long>(plan.sizeAfter), plan.fits ? "true" : "false", applied ? "true" : "false");
  for (std::size_t i = 0; i < plan.steps.size(); ++i) {
    const FitStep& s = plan.steps[i];
    std::printf("%s\n    {\"kind\": \"%s\", \"sound\": %zu, \"soundType\": \"%s\", \"sample\": %zu, \"skipped\": %s, "
                "\"choice\": %s, \"bytesSaved\": %llu, \"sizeAfter\": %llu, \"what\": ",
                i == 0 ? "" : ",", KindName(s.kind), s.sound + 1,
                s.soundType == SoundType::Drumsound ? "Drumsound" : "Multisound", s.sample + 1,
                s.skipped ? "true" : "false", s.choice ? "true" : "false",
                static_cast<unsigned long long>(s.bytesSaved), static_cast<unsigned long long>(s.sizeAfter));
    WriteJsonString(stdout, s.what.view());
    if (!s.skipped && (s.kind == FitStepKind::NewLoop || s.kind == FitStepKind::CompactLoop)) {
      std::printf(", \"loop\": %lld, \"end\": %lld, \"seamDb\": %.1f, \"tuningCents\": %.2f, \"crossfade\": %lld",
                  static_cast<long long>(s.markers.loop - s.keepFrom), static_cast<long long>(s.markers.end - s.keepFrom),
                  s.seamDb, s.tuningCents, static_cast<long long>(s.crossfade));
    }
    std::printf("}");
  }
  std::printf("%s]\n}\n", plan.steps.empty() ? "" : "\n  ");
}

}  // namespace

int CmdFit(const Args& args) {
  constexpr const char* kUsage =
      "fit CARD.qz [--capacity BYTES | --device N] [--max-transpose SEMITONES] [--apply] [--json]";
  std::string_view path;
  unsigned long long capacity = 0, device = 0, transpose = 5;
  bool apply = false, json = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view a = args[i];
    if (a == "--capacity" && i + 1 < args.size()) {
      if (!ParseUnsigned(args[++i], capacity) || capacity == 0 || capacity > 0xFFFFFFFFull) {
        return Fail("--capacity", "not a byte count from 1 to 4294967295");
      }
    } else if (a == "--device" && i + 1 < args.size()) {
      if (!ParseUnsigned(args[++i], device) || device == 0) return Usage(kUsage);
    } else if (a == "--max-transpose" && i + 1 < args.size()) {
      if (!ParseUnsigned(args[++i], transpose) || transpose > 24) {
        return Fail("--max-transpose", "not a number of semitones from 0 to 24");
      }
    } else if (a == "--apply") {
      apply = true;
    } else if (a == "--json") {
      json = true;
    } else if (path.empty() && !a.starts_with("--")) {
      path = a;
    } else {
      return Usage(kUsage);
    }
  }
  if (path.empty() || (capacity != 0 && device != 0)) return Usage(kUsage);

  FitOptions options;
  options.maxTranspose = static_cast<int>(transpose);
  options.capacity = capacity != 0 ? capacity : kDefaultCardCapacity;
  if (device != 0) {
    bool wide = false;
    if (int rc = DeviceMemory("fit", device, options.capacity, wide)) return rc;
    options.layout = wide ? CardLayout::WideCard : CardLayout::Card;
  }

  // Held from load to save when applying, as `add` holds it.
  FileUpdateLock lock;
  if (apply) {
    if (Result r = lock.Acquire(path, kLockWaitMs)) {
      if (r == kNotSupported) return Fail(path, "another program is updating this card-file; try again later");
      return Fail(path, std::string("can't lock the card-file: ") + FileErrorText(r));
    }
  }
  static CardDocument doc;  // large; one per run
  if (Result r = LoadCardFile(path, doc)) {
    return Fail(path, std::string("can't load the card-file: ") + std::string(LoadFailureReason(r)));
  }
  FitPlan plan;
  if (Result r = PlanFit(doc, options, plan)) return Fail(path, FileErrorText(r));
  if (!apply || (plan.fits && plan.steps.empty())) {  // nothing to do: the file stays as it is
    json ? PrintPlanJson(plan, false) : PrintPlan(plan);
    return 0;
  }
  if (!plan.fits) {
    json ? PrintPlanJson(plan, false) : PrintPlan(plan);
    return Fail(path, "the plan does not bring the card within its memory; the card-file is unchanged");
  }
  std::vector<bool> take;
  Result r = DefaultSelection(plan, take);
  if (r == kOk) r = ApplyFit(doc, plan, take);
  if (r != kOk) return Fail(path, FileErrorText(r));
  // The card image builder has the last word on whether it fits.
  doc.cardCapacity = static_cast<std::uint32_t>(options.capacity);
  CardImage image;
  std::uint64_t required = 0;
  BuildRefusal refusal;
  if (BuildCardImage(doc, options.layout, image, &required, &refusal) != kOk) {
    const std::string why = !refusal.empty() ? std::string(refusal.view())
                                             : "it would still be " + std::to_string(required) + " bytes";
    return Fail(path, "the card-file is unchanged: " + why);
  }
  SaveReport outcome;
  if (Result r = SaveCardFile(path, doc, &outcome)) {
    return Fail(path, std::string("can't save the card-file: ") +
                          (outcome.refusal.empty() ? std::string(FileErrorText(r)) : std::string(outcome.refusal.view())));
  }
  json ? PrintPlanJson(plan, true) : PrintPlan(plan);
  return 0;
}

}  // namespace tavrin::cli
