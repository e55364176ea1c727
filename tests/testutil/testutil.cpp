// Anchor of the test utility library; the doubles live in headers and in files beside this one.
namespace chron::testing {
int testutil_anchor = 0;
}
