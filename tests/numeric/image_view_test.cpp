// Image views: what each kind allows, and that both kinds index the same pixels.
#include "numeric/image_view.h"

#include <gtest/gtest.h>

#include <type_traits>
#include <utility>

using namespace zelvo;

namespace {

template <class View>
constexpr bool writable = std::is_assignable_v<decltype(std::declval<const View&>().at(1, 1)), float>;

}  // namespace

// The rules hold at compile time: a read-only view has no way to write, and only the
// writable-to-read-only conversion exists.
static_assert(writable<ImageView>);
static_assert(!writable<ConstImageView>);
static_assert(std::is_convertible_v<ImageView, ConstImageView>);
static_assert(!std::is_convertible_v<ConstImageView, ImageView>);
static_assert(std::is_same_v<decltype(std::declval<const Image&>().view()), ConstImageView>);
static_assert(std::is_same_v<decltype(std::declval<Image&>().view()), ImageView>);
static_assert(std::is_aggregate_v<ImageView> && std::is_aggregate_v<ConstImageView>);

struct ViewCase {
  int nx, ny, x, y;
  std::size_t index;  // FITS order: x fastest, both 1-based
};

class ImageViews : public ::testing::TestWithParam<ViewCase> {};

TEST_P(ImageViews, BothKindsSeeThePixelAtItsFitsIndex) {
  const ViewCase c = GetParam();
  Image img(c.nx, c.ny);
  img.px[c.index] = 42.0f;
  ImageView w = img.view();
  const ConstImageView r = w;
  const Image& frozen = img;
  EXPECT_EQ(r.px, img.px.data());
  EXPECT_EQ(r.size(), static_cast<std::size_t>(c.nx) * static_cast<std::size_t>(c.ny));
  EXPECT_EQ(r.at(c.x, c.y), 42.0f);
  EXPECT_EQ(frozen.view().at(c.x, c.y), 42.0f);
  EXPECT_EQ(frozen.at(c.x, c.y), 42.0f);
  w.at(c.x, c.y) = 7.0f;  // the read-only view follows what the writable one changed
  EXPECT_EQ(r.at(c.x, c.y), 7.0f);
}

INSTANTIATE_TEST_SUITE_P(Cases, ImageViews,
                         ::testing::Values(ViewCase{1, 1, 1, 1, 0}, ViewCase{5, 3, 2, 1, 1}, ViewCase{5, 3, 1, 2, 5},
                                           ViewCase{5, 3, 5, 3, 14}, ViewCase{4, 7, 3, 6, 22}));

TEST(ImageViews, AnEmptyImageGivesEmptyViewsOfBothKinds) {
  Image none;
  const Image& frozen = none;
  EXPECT_TRUE(none.view().empty());
  EXPECT_TRUE(frozen.view().empty());
  EXPECT_TRUE(ConstImageView{}.empty());
}
