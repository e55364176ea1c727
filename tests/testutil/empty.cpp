// Keeps the test utility library non-empty while it has no sources of its own.
