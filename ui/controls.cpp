#include "ui/controls.h"

#include <cstdio>

#include "platform/clock.h"

namespace cg {

TControl::TControl(ControlKind k, std::string n, TControl* p) : kind(k), name(std::move(n)), parent(p) {}

bool TControl::showing() const {
  for (const TControl* c = this; c; c = c->parent)
    if (!c->visible) return false;
  return true;
}

void TGauge::setMinValue(int v) {
  if (v == min_) return;
  min_ = v;
  if (progress_ < min_) progress_ = min_;
  if (onRepaint) onRepaint();
}

void TGauge::setMaxValue(int v) {
  if (v == max_) return;
  max_ = v;
  if (progress_ > max_) progress_ = max_;
  if (onRepaint) onRepaint();
}

void TGauge::setProgress(int v) {
  // Clamp against the maximum first, then the minimum: with the bounds the
  // wrong way round the minimum wins, and the percentage is shown as 0.
  if (v > max_) v = max_;
  if (v < min_) v = min_;
  const int before = percentDone();
  progress_ = v;
  if (onStep) onStep();
  if (percentDone() != before && onRepaint) onRepaint();
}

int TGauge::percentDone() const {
  if (max_ <= min_) return 0;
  // 64 bits: a walk of more than 21 million records would overflow the product.
  return static_cast<int>((static_cast<int64_t>(progress_) - min_) * 100 /
                          (static_cast<int64_t>(max_) - min_));
}

std::string TGauge::text() const {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%d%%", percentDone());
  return buf;
}

void TTimer::setEnabled(bool e) {
  if (e == enabled_) return;
  enabled_ = e;
  if (e) dueMs_ = Clock::nowMs() + interval;
}

}  // namespace cg
