package app.main;

import app.greeting.Greeting;

public final class Main {
  public static void main(String[] args) {
    System.out.println(Greeting.hello() + ", main class in " + Main.class.getModule());
  }
}
