package bundle.app;

import bundle.words.Words;
import javafx.scene.Scene;
import javafx.scene.control.Label;

// The window's content: one label with the greeting of the module bundle.words.
final class GreetingScene {
  private final Label label = new Label(Words.greeting());
  private final Scene scene = new Scene(label, 360, 120);

  Scene scene() {
    return scene;
  }

  // What the window shows and where its text came from.
  String describe() {
    return "the label \"" + label.getText() + "\" from module " + Words.module();
  }
}
