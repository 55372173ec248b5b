// The packed test application's plain module: the text its window shows.
module notes.text {
  exports notes.text;
}
