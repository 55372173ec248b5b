package notes.window;

import javafx.animation.PauseTransition;
import javafx.application.Application;
import javafx.application.Platform;
import javafx.scene.Scene;
import javafx.scene.control.Label;
import javafx.stage.Stage;
import javafx.util.Duration;
import notes.text.Greeting;

// Shows a window with the greeting of module notes.text. Once it is shown, it prints what it shows
// and the Java installation it runs on, then keeps the window for NOTES_SECONDS seconds (1 when
// the variable is not set) and ends.
public final class NotesWindow extends Application {
  @Override
  public void start(Stage stage) {
    Label label = new Label(Greeting.text());
    stage.setScene(new Scene(label, 320, 100));
    stage.setTitle("Notes");
    stage.setOnShown(event -> {
      System.out.println("NotesWindow shows \"" + label.getText() + "\"");
      System.out.println("java.home " + System.getProperty("java.home"));
    });
    stage.show();
    String seconds = System.getenv("NOTES_SECONDS");
    PauseTransition pause =
        new PauseTransition(Duration.seconds(seconds == null ? 1 : Double.parseDouble(seconds)));
    pause.setOnFinished(event -> Platform.exit());
    pause.play();
  }

  public static void main(String[] args) {
    launch(args);
  }
}
