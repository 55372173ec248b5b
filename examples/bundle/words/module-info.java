// The application's own library module. The bundle keeps it in a directory of its own, modules/,
// which line 2 of init.ini names.
module bundle.words {
  exports bundle.words;
}
