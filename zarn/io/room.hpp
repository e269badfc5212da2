// The disk space a result can take, checked before the work that makes it, so that a run
// bound to fill the disk says so at once rather than after all its work.
#pragma once

#include <string>
#include <utility>

namespace zarn {

/// The bytes a file saved under `name` can still take: what the file system of its folder
/// leaves to this user. Infinite for standard output ("-"), for a name that is a device or a
/// pipe, and where the system does not say.
double room_for(const std::string& name);

/// The bytes the file system of `folder` leaves to this user; infinite where the system does
/// not say.
double room_in(const std::string& folder);

/// Room left for the bytes of one result, counted as they are planned.
class Room {
 public:
  /// The room for a file saved under `name` (room_for).
  explicit Room(const std::string& name) : Room(name, room_for(name)) {}
  /// A given room, for tests and for callers that measured it.
  Room(std::string name, double bytes) : name_(std::move(name)), left_(bytes) {}

  /// Counts `bytes` more of the result; throws Failure "no room: WHAT needs N GiB, more than
  /// the M GiB free for NAME" once the count passes the room.
  void take(double bytes, const std::string& what);

 private:
  std::string name_;
  double left_;
  double taken_ = 0;
};

}  // namespace zarn
