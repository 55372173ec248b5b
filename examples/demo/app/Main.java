import demo.greeting.Greeting;

public final class Main {
  public static void main(String[] args) {
    System.out.println(Greeting.to("launcher"));
    System.out.println("Class path: " + System.getProperty("java.class.path"));
  }
}
