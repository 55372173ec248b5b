// The packed test application's JavaFX module, which holds the main class.
module notes.window {
  requires javafx.controls;
  requires notes.text;

  exports notes.window to javafx.graphics;
}
