package pkg;

public final class Tool {
  public static void main(String[] args) {}
}
