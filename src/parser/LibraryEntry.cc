// Load and unload of libpdfparse.so itself.
