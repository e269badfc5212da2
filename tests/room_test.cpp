// The disk room a result is checked against before its work: counted across the boundary, and
// where the system cannot bound it.
#include "io/room.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "io/output.hpp"
#include "model/failure.hpp"
#include "run_binary.hpp"

namespace {

TEST(Room, RefusedOnceTheCountPassesTheRoom) {
  zarn::Room room("out.txt", 3.0 * (1 << 30));
  room.take(2.0 * (1 << 30), "the result");
  room.take(1.0 * (1 << 30), "the result");  // exactly the room: taken
  try {
    room.take(1, "the result");
    FAIL() << "one byte past the room";
  } catch (const zarn::Failure& f) {
    EXPECT_EQ(f.message, "zarn: no room: the result needs at least 3.00 GiB, more than the 3.00 GiB free for out.txt\n");
    EXPECT_EQ(f.kind, zarn::FailureKind::kFileSystem);
  }
  // Sizes in the unit that shows them, small rooms too.
  zarn::Room small("out.txt", 1000);
  try {
    small.take(1500, "the result");
    FAIL() << "past a small room";
  } catch (const zarn::Failure& f) {
    EXPECT_EQ(f.message, "zarn: no room: the result needs at least 1.46 KiB, more than the 1000 bytes free for out.txt\n");
  }
}

TEST(Room, SizesShownInTheUnitThatShowsThem) {
  const struct {
    double bytes;
    const char* shown;
  } cases[] = {{0, "0 bytes"},           {1023, "1023 bytes"},      {1023.6, "1.00 KiB"},       {1024, "1.00 KiB"},
               {10 * 1024 - 6, "9.99 KiB"}, {10 * 1024 - 5, "10.0 KiB"}, {100 * 1024 - 52, "99.9 KiB"}, {100 * 1024 - 51, "100 KiB"},
               {5.31 * (1 << 30), "5.31 GiB"}, {5.30 * (1 << 30), "5.30 GiB"}, {1e300, "8.67e+281 EiB"}};
  for (const auto& c : cases) EXPECT_EQ(zarn::shown_bytes(c.bytes), c.shown) << c.bytes;
}

TEST(Room, MeasuredWhereTheSystemBoundsIt) {
  zarn_test::TempDir dir;
  const double room = zarn::room_for(dir / "new.txt");
  EXPECT_TRUE(std::isfinite(room) && room > 0) << room;
  for (const std::string unbounded : {"-", "/dev/null"}) EXPECT_TRUE(std::isinf(zarn::room_for(unbounded))) << unbounded;
  EXPECT_NEAR(zarn::room_in(dir.path()), room, 0.01 * room);  // a file's room is its folder's (other runs write meanwhile)
  EXPECT_TRUE(std::isinf(zarn::room_in("/nonexistent/zarn")));
}

TEST(Output, AReaderGoneIsSeenBeforeWriting) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  EXPECT_FALSE(zarn::reader_gone(ends[1]));
  ::close(ends[0]);
  EXPECT_TRUE(zarn::reader_gone(ends[1]));
  ::close(ends[1]);
  const int file = ::open("/dev/null", O_WRONLY);
  EXPECT_FALSE(zarn::reader_gone(file));
  ::close(file);
}

}  // namespace
