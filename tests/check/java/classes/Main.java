import app.greeting.Greeting;

// main writes a file: the check must never make it run. The static initialiser does not run
// during the dry run either.
public final class Main {
  static {
    System.out.println("Main initialised");
  }

  public static void main(String[] args) throws Exception {
    System.out.println(Greeting.hello());
    java.nio.file.Files.writeString(java.nio.file.Path.of("main-ran"), "yes");
  }
}
