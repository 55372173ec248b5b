package notes.text;

// The text the window shows, from a module of its own.
public final class Greeting {
  private Greeting() {}

  public static String text() {
    return "Hello from two modules";
  }
}
