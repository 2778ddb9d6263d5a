#include "form_fixture.h"
namespace quorrel::fakes {
TEST_F(FormTest, Loads) { Load(); EXPECT_EQ(form->trayTip, "Quorrel - OFF"); }
}
