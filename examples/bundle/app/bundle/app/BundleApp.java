package bundle.app;

import javafx.animation.AnimationTimer;
import javafx.animation.PauseTransition;
import javafx.application.Application;
import javafx.application.Platform;
import javafx.stage.Stage;
import javafx.util.Duration;

// The bundle's application: its classes lie at the bundle's top, beside the launcher (the class
// path); JavaFX comes from the bundle's own Java runtime and the text from the module
// bundle.words. It shows a window and closes it after a second. Once the window has been shown
// it prints what it showed and the Java installation it runs on, so that a test can tell.
//
// With BUNDLE_APP_FIRST_FRAME=exit in its environment it ends as soon as its first frame has been
// shown instead, printing "BundleApp showed its first frame": a measure of start-up to the first
// frame (bench/pack.sh).
public final class BundleApp extends Application {
  @Override
  public void start(Stage stage) {
    GreetingScene scene = new GreetingScene();
    stage.setScene(scene.scene());
    stage.setTitle("launcher: a movable bundle");
    if ("exit".equals(System.getenv("BUNDLE_APP_FIRST_FRAME"))) {
      exitAfterFirstFrame();
      stage.show();
      return;
    }
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

  // JavaFX renders a frame at the end of every pulse, after the pulse's animations have run: the
  // window's first frame has been rendered once the pulse after the one that showed it begins.
  private static void exitAfterFirstFrame() {
    new AnimationTimer() {
      private int pulses;

      @Override
      public void handle(long now) {
        if (++pulses < 2) return;
        stop();
        System.out.println("BundleApp showed its first frame");
        Platform.exit();
      }
    }.start();
  }

  public static void main(String[] args) {
    launch(args);
  }
}
