package hello;

import javafx.animation.PauseTransition;
import javafx.application.Application;
import javafx.application.Platform;
import javafx.scene.Scene;
import javafx.scene.control.Label;
import javafx.stage.Stage;
import javafx.util.Duration;

// A window with a label that closes itself after a second. Once the window has been shown it
// prints one line to standard output, naming what it showed, so that a test can tell.
public final class HelloFx extends Application {
  private static final String TEXT = "Hello from JavaFX";

  @Override
  public void start(Stage stage) {
    Label label = new Label(TEXT);
    stage.setScene(new Scene(label, 320, 120));
    stage.setTitle("launcher: JavaFX example");
    stage.show();
    PauseTransition pause = new PauseTransition(Duration.seconds(1));
    pause.setOnFinished(event -> {
      if (stage.isShowing() && label.getScene().getWindow() == stage) {
        System.out.println("HelloFx showed a window with the label \"" + label.getText() + "\"");
      }
      Platform.exit();
    });
    pause.play();
  }

  public static void main(String[] args) {
    launch(args);
  }
}
