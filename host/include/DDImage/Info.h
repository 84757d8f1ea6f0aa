/// \file Info.h  The description of an image operator's output.
#pragma once

#include "DDImage/Box.h"
#include "DDImage/Channel.h"

namespace DD::Image {

/// Facts about an output that do not concern the 2D image.
struct GeneralInfo {
  int first_frame = 1;
  int last_frame = 1;
};

/// The 2D description: full format, bounding box of the defined pixels, and channels.
class Info2D {
 public:
  const Format& format() const { return format_; }
  Format& format() { return format_; }
  const Box& box() const { return box_; }
  Box& box() { return box_; }
  const ChannelSet& channels() const { return channels_; }
  ChannelSet& channels() { return channels_; }

 private:
  Format format_;
  Box box_;
  ChannelSet channels_;
};

class GeneralInfoProvider {
 public:
  virtual ~GeneralInfoProvider() = default;
  virtual const GeneralInfo& generalInfo() const = 0;
};

class Info2DProvider : public GeneralInfoProvider {
 public:
  virtual const Info2D& info2D() const = 0;
};

/// Owns an operator's output description.
class IopInfoOwner : public Info2DProvider {
 public:
  ~IopInfoOwner() override = default;
  const GeneralInfo& generalInfo() const override { return general_; }
  const Info2D& info2D() const override { return info_; }

  const ChannelSet& channels() const { return info_.channels(); }
  const Format& format() const { return info_.format(); }
  const Box& bbox() const { return info_.box(); }
  Info2D& info() { return info_; }
  const Info2D& info() const { return info_; }

 protected:
  GeneralInfo general_;
  Info2D info_;
};

}  // namespace DD::Image
