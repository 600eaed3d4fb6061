#include "raw/scan_window.h"

#include <algorithm>
#include <cstring>

namespace dravolin {
namespace {

// What is kept from one read to the next when no candidate needs more.
constexpr std::uint64_t kSmallKeep = 8;

}  // namespace

ScanWindow::ScanWindow(SectorReader& reader, SectorNumber end, std::uint32_t blockSectors,
                       std::uint32_t transferBlocks, std::uint64_t capacitySectors)
    : reader_(reader),
      end_(end),
      blockSectors_(std::max<std::uint32_t>(blockSectors, 1)),
      transferSectors_(blockSectors_ * std::max<std::uint32_t>(transferBlocks, 1)),
      capacity_(std::max<std::uint64_t>(4 * transferSectors_ + 4, capacitySectors)),
      buffer_(new std::byte[capacity_ * kSectorSize]),
      held_(buffer_.get()) {
  // The sink tells which reads came back with zero-filled sectors.
  reader_.setUnreadableSink([this](SectorNumber) { unreadableSeen_ = true; });
}

ScanWindow::~ScanWindow() { reader_.setUnreadableSink({}); }

bool ScanWindow::holdInPlace(SectorNumber first) {
  // Every call the scan would make must be served whole: no sector past the
  // end guard of the selection (those read as zeros), none past the last
  // whole sector of the file, and a range small enough to check at once.
  constexpr std::uint64_t kMostSectors = std::uint64_t{16} << 21;  // 16 GiB
  SectorSource& source = reader_.source();
  const std::int64_t guard = reader_.selectionEnd();
  if (!source.mapsInPlace() || first >= end_ || end_ - first > kMostSectors ||
      end_ > source.sizeInBytes() / kSectorSize || (guard > 0 && end_ > static_cast<std::uint64_t>(guard) + 1))
    return false;
  inPlace_ = source.map(first, static_cast<std::uint32_t>(end_ - first));
  if (!inPlace_) return false;
  held_ = inPlace_->bytes().data();
  bufFirst_ = first;
  validEnd_ = end_;
  dirty_ = false;
  return true;
}

void ScanWindow::discard(SectorNumber at) {
  if (inPlace_) {
    // Asked for what lies before the range: back to reading.
    inPlace_.reset();
    held_ = buffer_.get();
  }
  bufFirst_ = validEnd_ = at;
  dirty_ = false;
}

bool ScanWindow::dirtyWithin(SectorNumber first, SectorNumber last) const {
  return dirty_ && dirtyFirst_ < last && first < dirtyEnd_;
}

void ScanWindow::realign(SectorNumber origin, std::uint64_t n) {
  origin_ = origin;
  n_ = n;
  if (inPlace_ && origin >= bufFirst_) return;  // everything after it is held
  if (origin < bufFirst_ || origin >= validEnd_) {
    discard(origin);
    return;
  }
  if (dirtyWithin(origin, validEnd_)) {
    // A read that starts elsewhere may lose other sectors: read again.
    ++generation_;
    discard(origin);
    return;
  }
  if (validEnd_ != end_ && n > 0) validEnd_ = origin + (validEnd_ - origin) / n * n;
}

void ScanWindow::ensure(SectorNumber s, SectorNumber keepFrom, SectorNumber blockStart) {
  if (inPlace_ && s >= bufFirst_) return;
  if (s < bufFirst_ || blockStart > validEnd_) discard(std::min(blockStart, s));
  const SectorNumber need = s + 1 < end_ ? s + 2 : s + 1;
  while (validEnd_ < need && validEnd_ < end_) {
    const std::uint64_t count = std::min<std::uint64_t>(transferSectors_ / blockSectors_ * std::max<std::uint64_t>(n_, 1),
                                                        end_ - validEnd_);
    SectorNumber keep = std::min(validEnd_, std::max(bufFirst_, std::min(keepFrom, s)));
    if ((validEnd_ - bufFirst_) + count > capacity_ || validEnd_ - keep <= kSmallKeep) {
      // Move what is kept to the front: always when it is little, so that
      // the scan reads into the same few cache-warm bytes; else when the
      // buffer is full, and then what a restart might want is kept only
      // while it leaves room for the reads to come.
      if (validEnd_ - keep > capacity_ / 2) keep = std::min(s, validEnd_);
      std::memmove(buffer_.get(), buffer_.get() + (keep - bufFirst_) * kSectorSize,
                   (validEnd_ - keep) * kSectorSize);
      bufFirst_ = keep;
      if (dirty_ && dirtyEnd_ <= keep) dirty_ = false;
    }
    unreadableSeen_ = false;
    std::span<std::byte> target(buffer_.get() + (validEnd_ - bufFirst_) * kSectorSize, count * kSectorSize);
    (void)reader_.ReadSectorsAs(validEnd_, static_cast<std::uint32_t>(count), target,
                                static_cast<std::uint32_t>(std::max<std::uint64_t>(n_, 1)));
    sectorsRead_ += count;
    if (unreadableSeen_) {
      dirtyFirst_ = dirty_ ? std::min(dirtyFirst_, validEnd_) : validEnd_;
      dirtyEnd_ = validEnd_ + count;
      dirty_ = true;
    }
    validEnd_ += count;
  }
}

std::span<const std::byte> ScanWindow::from(SectorNumber s) const {
  if (s < bufFirst_ || s >= validEnd_) return {};
  return {held_ + (s - bufFirst_) * kSectorSize, (validEnd_ - s) * kSectorSize};
}

}  // namespace dravolin

namespace dravolin {

std::span<const std::byte> ScanWindow::clean(SectorNumber first, SectorNumber end) const {
  if (first < bufFirst_ || first >= validEnd_ || end <= first) return {};
  const SectorNumber last = std::min(end, validEnd_);
  if (dirtyWithin(first, last)) return {};
  return {held_ + (first - bufFirst_) * kSectorSize, (last - first) * kSectorSize};
}

}  // namespace dravolin
