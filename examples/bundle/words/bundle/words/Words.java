package bundle.words;

// The text the application shows, from a module outside the Java runtime.
public final class Words {
  private Words() {}

  public static String greeting() {
    return "Hello from a movable bundle";
  }

  public static String module() {
    return Words.class.getModule().getName();
  }
}
