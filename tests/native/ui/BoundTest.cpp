#include <gtest/gtest.h>

#include "ui/Bound.h"

namespace ts {
namespace {

struct Listener {
  int calls = 0;
  int last = 0;
  void OnValue(int v) { ++calls, last = v; }
  void OnOther(int v) { last = -v; }
  bool Answer(int v) { return v > 0; }
};

}  // namespace

TEST(TMethod, EqualOnlyWhenObjectAndFunctionAreEqual) {
  Listener a, b;
  TMethod<void(int)> none;
  EXPECT_FALSE(none);
  EXPECT_EQ(Bind(&a, &Listener::OnValue), Bind(&a, &Listener::OnValue));
  EXPECT_FALSE(Bind(&a, &Listener::OnValue) == Bind(&b, &Listener::OnValue));
  EXPECT_FALSE(Bind(&a, &Listener::OnValue) == Bind(&a, &Listener::OnOther));
  EXPECT_FALSE(Bind(&a, &Listener::OnValue) == none);
  EXPECT_EQ(none, TMethod<void(int)>(nullptr));
}

TEST(TMethod, CallsTheBoundObject) {
  Listener a;
  auto m = Bind(&a, &Listener::OnValue);
  m(7);
  EXPECT_EQ(a.calls, 1);
  EXPECT_EQ(a.last, 7);
  EXPECT_TRUE(Bind(&a, &Listener::Answer)(1));
  EXPECT_FALSE(Bind(&a, &Listener::Answer)(0));
}

}  // namespace ts
