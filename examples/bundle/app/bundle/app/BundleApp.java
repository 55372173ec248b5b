package bundle.app;

import javafx.animation.PauseTransition;
import javafx.application.Application;
import javafx.application.Platform;
import javafx.stage.Stage;
import javafx.util.Duration;

// The bundle's application: its classes lie at the bundle's top, beside the launcher (the class
// path); JavaFX comes from the bundle's own Java runtime and the text from the module
// bundle.words. It shows a window and closes it after a second. Once the window has been shown
// it prints what it showed and the Java installation it runs on, so that a test can tell.
public final class BundleApp extends Application {
  @Override
  public void start(Stage stage) {
    GreetingScene scene = new GreetingScene();
    stage.setScene(scene.scene());
    stage.setTitle("launcher: a movable bundle");
    stage.show();
    PauseTransition pause = new PauseTransition(Duration.seconds(1));
    pause.setOnFinished(event -> {
      if (stage.isShowing()) {
        System.out.println("BundleApp showed a window with " + scene.describe());
        System.out.println("java.home " + System.getProperty("java.home"));
      }
      Platform.exit();
    });
    pause.play();
  }

  public static void main(String[] args) {
    launch(args);
  }
}
