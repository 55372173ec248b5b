public final class NoMain {}
